#pragma once
// instrument-sim as a child process, for the tests and the benchmark: started with its options
// after "--port 0", the port it bound read from its first line of output, and ended with the
// object, after `grace_ms` for a server that stops by itself. With --vxi11 the line holds the
// core channel's port, then the portmapper's.
#include <windows.h>
#include <cstdlib>
#include <string>
#include "platform/unique_any.hpp"

class instrument_server_process {
public:
    // `folder`: where instrument-sim.exe is, relative to this program's folder ("" for the same).
    instrument_server_process(const std::wstring& folder, const std::wstring& options, DWORD grace_ms = 0)
        : m_child(grace_ms)
    {
        wchar_t path[MAX_PATH];
        const std::wstring self(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
        std::wstring command = L"\"" + self.substr(0, self.find_last_of(L"\\/") + 1) + folder +
                               L"instrument-sim.exe\" --port 0 " + options;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        handle read_end, write_end;
        if (!CreatePipe(read_end.put(), write_end.put(), &inherit, 0))
            return;
        SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write_end.get();
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION started{};
        if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started)) {
            m_child.process.reset(started.hProcess);
            const handle thread(started.hThread); // not needed: closed at once
        }
        write_end.reset(); // the child's copy is the only one left: its exit ends the read
        std::string line;
        char c;
        DWORD got = 0;
        while (m_child.process && ReadFile(read_end.get(), &c, 1, &got, nullptr) && got == 1 && c != '\n')
            line += c;
        char* rest = nullptr;
        m_port = static_cast<unsigned short>(std::strtoul(line.c_str(), &rest, 10));
        m_portmapper_port = static_cast<unsigned short>(std::strtoul(rest, nullptr, 10));
    }
    instrument_server_process(const instrument_server_process&) = delete;
    instrument_server_process& operator=(const instrument_server_process&) = delete;

    // 0 when it did not start or bound nothing.
    unsigned short port() const { return m_port; }
    // With --vxi11: the portmapper's port; else 0.
    unsigned short portmapper_port() const { return m_portmapper_port; }

private:
    using handle = morvane::unique_any<HANDLE, &CloseHandle>;

    // The running server, ended with its owner: given its grace to stop by itself, then
    // terminated, and waited for either way so that its port and files are free again.
    struct running_child {
        explicit running_child(DWORD grace) : grace_ms(grace) {}
        ~running_child()
        {
            if (!process)
                return;
            if (WaitForSingleObject(process.get(), grace_ms) != WAIT_OBJECT_0)
                TerminateProcess(process.get(), 1);
            WaitForSingleObject(process.get(), 5000);
        }
        running_child(const running_child&) = delete;
        running_child& operator=(const running_child&) = delete;

        handle process;
        DWORD grace_ms;
    };

    running_child m_child;
    unsigned short m_port = 0;
    unsigned short m_portmapper_port = 0;
};
