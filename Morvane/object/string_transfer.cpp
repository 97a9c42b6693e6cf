// WriteString and ReadString: text through the ANSI code page, to the end of a message.
// Text is converted straight between the caller's string and the session's chunks: a long
// string costs the conversion and no copy of its own.
#include <comdef.h>
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <cwchar>
#include <vector>
#include "object/fmtdio.hpp"
#include "platform/ansi.hpp"

namespace morvane {
namespace {

// Characters of a single-byte code page, converted where the stream wants them: into its
// area, or for whole chunks, into a staging buffer that takes many chunks per conversion.
class ansi_source final : public byte_source {
public:
    explicit ansi_source(std::wstring_view text) noexcept : m_rest(text) {}

    void produce(unsigned char* to, std::size_t count) override
    {
        const std::size_t from_staging = std::min(count, m_staged.size());
        if (from_staging) {
            std::memcpy(to, m_staged.data(), from_staging);
            m_staged = m_staged.subspan(from_staging);
        }
        convert(m_rest.substr(0, count - from_staging), to + from_staging);
    }

    const unsigned char* take_in_place(std::size_t count) noexcept override
    {
        if (m_staged.size() < count && !stage(count))
            return nullptr;
        const unsigned char* taken = m_staged.data();
        m_staged = m_staged.subspan(count);
        return taken;
    }

private:
    static constexpr std::size_t staging_size = 64 * 1024;

    void convert(std::wstring_view text, unsigned char* to)
    {
        to_ansi_bytes(text, to);
        m_rest.remove_prefix(text.size());
    }

    // Moves what is staged to the front and converts as much again as fits; false when the
    // chunk is too large to stage or the conversion fails (the area then takes it).
    bool stage(std::size_t count) noexcept
    {
        try {
            if (count > staging_size)
                return false;
            if (!m_staging)
                m_staging = std::make_unique_for_overwrite<unsigned char[]>(staging_size);
            if (!m_staged.empty())
                std::memmove(m_staging.get(), m_staged.data(), m_staged.size());
            const std::size_t more = std::min(m_rest.size(), staging_size - m_staged.size());
            convert(m_rest.substr(0, more), m_staging.get() + m_staged.size());
            m_staged = {m_staging.get(), m_staged.size() + more};
            return m_staged.size() >= count;
        } catch (...) {
            return false;
        }
    }

    std::wstring_view m_rest;
    std::unique_ptr<unsigned char[]> m_staging;
    std::span<const unsigned char> m_staged;
};

void write_ansi(basic_comostream& stream, std::wstring_view text)
{
    if (ansi_is_single_byte()) {
        ansi_source source(text);
        stream.write_from(source, text.size());
        return;
    }
    // Elsewhere a character may take several bytes, so the text is converted as a whole.
    const std::string bytes = to_ansi(text);
    memory_source source({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
    stream.write_from(source, bytes.size());
}

// The bytes of one message as they arrived, made into text in one conversion per piece.
class message_text final : public message_sink {
public:
    void take(std::span<const unsigned char> bytes) override
    {
        std::vector<unsigned char> copy(bytes.begin(), bytes.end());
        m_pieces.push_back({{}, std::move(copy), nullptr});
        m_pieces.back().bytes = {m_pieces.back().copy.data(), bytes.size()};
    }
    void take(unique_safearray chunk, std::size_t count) override
    {
        auto accessed = std::make_unique<accessed_safearray>(std::move(chunk));
        const unsigned char* data = accessed->bytes();
        m_pieces.push_back({{data, count}, {}, std::move(accessed)});
    }

    unique_bstr to_bstr() const
    {
        if (!ansi_is_single_byte())
            return joined_to_bstr();
        // One byte is one character, wherever the pieces were cut.
        std::size_t length = 0;
        for (const piece& p : m_pieces)
            length += p.bytes.size();
        unique_bstr text(allocate(length));
        wchar_t* to = text.get();
        for (const piece& p : m_pieces) {
            from_ansi_bytes(p.bytes, to, p.bytes.size());
            to += p.bytes.size();
        }
        return text;
    }

private:
    struct piece {
        std::span<const unsigned char> bytes;
        std::vector<unsigned char> copy;
        std::unique_ptr<accessed_safearray> chunk;
    };

    static BSTR allocate(std::size_t length)
    {
        BSTR text = length <= UINT_MAX ? SysAllocStringLen(nullptr, static_cast<UINT>(length)) : nullptr;
        if (!text)
            throw _com_error(E_OUTOFMEMORY);
        return text;
    }

    // A character of several bytes may straddle two pieces.
    unique_bstr joined_to_bstr() const
    {
        std::string joined;
        for (const piece& p : m_pieces)
            joined.append(reinterpret_cast<const char*>(p.bytes.data()), p.bytes.size());
        return ansi_to_bstr(joined);
    }

    std::vector<piece> m_pieces;
};

} // namespace

STDMETHODIMP CFmtdIOCls::WriteString(BSTR data, VARIANT_BOOL flush_and_end)
{
    return frame(write_text_method, [&] {
        check_in_ptr(data, sizeof *data);
        check_io();
        // A NUL ends the text, whatever the BSTR's recorded length.
        write_ansi(*m_output, std::wstring_view(data, std::wcslen(data)));
        // Sending the end is attempted even after a failed write, whose chunk is gone:
        // the empty buffer then reports message 115.
        if (flush_and_end)
            m_output->flush_with_end();
    });
}

STDMETHODIMP CFmtdIOCls::ReadString(BSTR* data)
{
    return frame(read_method, [&] {
        empty_out(data);
        check_io();
        message_text text;
        if (m_input->read_message(text))
            *data = text.to_bstr().release();
    });
}

} // namespace morvane
