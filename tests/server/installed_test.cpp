// Installing the component as the documented steps do (register_typelib for the standard
// library, then regsvr32), the registry entries that it leaves, and creating and calling it
// through COM as client programs do, from several threads at once.
#include <barrier>
#include <cstdlib>
#include <future>
#include <thread>
#include "server_client.hpp"
#include "support/scripted_session.hpp"

namespace server_tests {
namespace {

using namespace std::chrono_literals;
using morvane::testing::scripted_session;

const HKEY classes = HKEY_CLASSES_ROOT;
const std::wstring module = shipped_file(L"Morvane.dll");
const std::wstring class_key = L"CLSID\\{db8cbf1d-d6d3-11d4-aa51-00a024ee30bd}";
const std::wstring inproc_key = class_key + L"\\InprocServer32";
const std::wstring typelib_key = L"TypeLib\\{709F7EC2-AB81-11D4-98E6-00108301CB39}";
const std::wstring library_path_key = typelib_key + L"\\5.5\\0\\win64";

std::wstring quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

// Runs a command line to its end, through the command interpreter: its exit code.
int run(const std::wstring& command_line)
{
    return _wsystem(quoted(command_line).c_str());
}

int regsvr32(const std::wstring& module_path, bool unregister = false)
{
    return run(std::wstring(L"regsvr32.exe ") + (unregister ? L"/u " : L"") + L"/s " + quoted(module_path));
}

int register_typelib(const std::wstring& arguments)
{
    return run(quoted(shipped_file(L"register_typelib.exe")) + arguments);
}

// Morvane.dll copied into a directory of its own under the temporary directory (with `deep`,
// nested so deep that its path is longer than MAX_PATH), and removed again at the end.
struct module_copy {
    std::vector<std::wstring> directories;
    std::wstring path;
    std::wstring type_library; // beside it, by its name

    explicit module_copy(const std::wstring& name, bool deep = false)
    {
        wchar_t temp[MAX_PATH];
        directories = {std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + name};
        while (deep && directories.back().size() < MAX_PATH)
            directories.push_back(directories.back() + L"\\" + std::wstring(40, L'd'));
        for (const std::wstring& directory : directories)
            CreateDirectoryW(directory.c_str(), nullptr);
        path = directories.back() + L"\\Morvane.dll";
        type_library = directories.back() + L"\\Morvane.tlb";
        EXPECT_TRUE(CopyFileW(module.c_str(), path.c_str(), FALSE));
    }
    ~module_copy()
    {
        DeleteFileW(path.c_str());
        DeleteFileW(type_library.c_str());
        for (auto directory = directories.rbegin(); directory != directories.rend(); ++directory)
            RemoveDirectoryW(directory->c_str());
    }
};

// Every test starts and ends with none of the component's entries present.
class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const std::wstring& key : {std::wstring(L"VISA.Tellurix"), std::wstring(L"VISA.Tellurix.1"), class_key,
                                        typelib_key})
            delete_tree(classes, key);
    }
    void TearDown() override { SetUp(); }
};

// Registering writes the script's entries and the type library; registering again replaces
// the class key, not VISA.Tellurix; unregistering removes everything, but for VISA.Tellurix
// when someone else put a subkey below it.
TEST_F(Registration, RegisterAgainAndUnregister)
{
    const std::wstring clsid = L"{db8cbf1d-d6d3-11d4-aa51-00a024ee30bd}";
    const std::wstring class_name = L"VISA COM I/O Tellurix Class";
    const names class_subkeys = {L"InprocServer32", L"ProgID", L"Programmable", L"VersionIndependentProgID"};
    ASSERT_EQ(regsvr32(module), 0);
    using entry = std::tuple<std::wstring, const wchar_t*, std::wstring>;
    for (const auto& [key, value_name, data] : std::initializer_list<entry>{
             {L"VISA.Tellurix.1", L"", class_name},
             {L"VISA.Tellurix.1\\CLSID", L"", clsid},
             {L"VISA.Tellurix", L"", class_name},
             {L"VISA.Tellurix\\CLSID", L"", clsid},
             {L"VISA.Tellurix\\CurVer", L"", L"VISA.Tellurix.1"},
             {class_key, L"", class_name},
             {class_key + L"\\ProgID", L"", L"VISA.Tellurix.1"},
             {class_key + L"\\VersionIndependentProgID", L"", L"VISA.Tellurix"},
             {inproc_key, L"", module},
             {inproc_key, L"ThreadingModel", L"Both"},
             {typelib_key + L"\\5.5", L"", L"VISA COM 488.2 Formatted I/O 5.5"},
             {library_path_key, L"", module},
         })
        EXPECT_EQ(string_value(classes, key, value_name), data) << testing::PrintToString(key + L" " + value_name);
    EXPECT_EQ(names_in(classes, class_key), class_subkeys);
    EXPECT_EQ(names_in(classes, inproc_key, true), (names{L"", L"ThreadingModel"}));
    EXPECT_EQ(names_in(classes, class_key + L"\\Programmable", true), names{});
    EXPECT_EQ(names_in(classes, L"VISA.Tellurix"), (names{L"CLSID", L"CurVer"}));
    EXPECT_EQ(names_in(classes, L"VISA.Tellurix.1"), names{L"CLSID"});
    EXPECT_EQ(names_in(classes, typelib_key), names{L"5.5"});

    set_value(classes, class_key + L"\\Stray");
    set_value(classes, class_key, L"Stray value");
    set_value(classes, L"VISA.Tellurix\\Kept");
    ASSERT_EQ(regsvr32(module), 0);
    EXPECT_EQ(names_in(classes, class_key), class_subkeys);
    EXPECT_EQ(names_in(classes, class_key, true), names{L""});
    EXPECT_EQ(names_in(classes, L"VISA.Tellurix"), (names{L"CLSID", L"CurVer", L"Kept"}));
    EXPECT_EQ(string_value(classes, inproc_key), module);

    ASSERT_EQ(regsvr32(module, true), 0);
    for (const std::wstring& key : {class_key, std::wstring(L"VISA.Tellurix.1"), typelib_key})
        EXPECT_FALSE(key_exists(classes, key)) << testing::PrintToString(key);
    EXPECT_TRUE(key_exists(classes, L"CLSID"));
    EXPECT_EQ(names_in(classes, L"VISA.Tellurix"), names{L"Kept"}) << "someone else's subkey keeps it";
    delete_tree(classes, L"VISA.Tellurix\\Kept");
    ASSERT_EQ(regsvr32(module), 0);
    ASSERT_EQ(regsvr32(module, true), 0);
    EXPECT_FALSE(key_exists(classes, L"VISA.Tellurix"));
}

// A copy of the module registers its own path, as it is, though the script quotes it. A path
// that fills the whole name buffer may have been cut short: the type library is not loaded
// from it, though the script's entries, which take the full path, are written. A type
// library resource that does not load gives way to the ".tlb" of the module's name beside it.
TEST_F(Registration, CopiesOfTheModule)
{
    struct row {
        const wchar_t* directory;
        bool deep;
        bool library_beside;
        HRESULT expected;
    };
    for (const row& copy_row : {row{L"Tellurix's copy", false, false, S_OK},
                                row{L"Morvane long path", true, false, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)},
                                row{L"Morvane library beside", false, true, S_OK}}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(copy_row.directory)));
        const module_copy copy(copy_row.directory, copy_row.deep);
        if (copy_row.library_beside) {
            const HANDLE update = BeginUpdateResourceW(copy.path.c_str(), FALSE);
            char not_a_library[] = "not a type library";
            ASSERT_TRUE(update && UpdateResourceW(update, L"TYPELIB", MAKEINTRESOURCEW(1),
                                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), not_a_library,
                                                  sizeof not_a_library));
            ASSERT_TRUE(EndUpdateResourceW(update, FALSE));
            // The build writes the library that the module carries into tools/, beside bin/.
            ASSERT_TRUE(CopyFileW(shipped_file(L"..\\tools\\tellurix.tlb").c_str(), copy.type_library.c_str(), FALSE));
        }
        const server_module server(copy.path);
        ASSERT_TRUE(server.loaded());
        EXPECT_EQ(server.register_server(), copy_row.expected);
        EXPECT_EQ(string_value(classes, inproc_key), copy.path);
        EXPECT_EQ(string_value(classes, library_path_key),
                  FAILED(copy_row.expected) ? std::nullopt
                                            : std::optional(copy_row.library_beside ? copy.type_library : copy.path));
        EXPECT_EQ(server.unregister_server(), copy_row.expected);
        EXPECT_FALSE(key_exists(classes, class_key));
        EXPECT_FALSE(key_exists(classes, typelib_key));
    }
}

// Installed as documented; removed, and checked to be, when the suite ends.
class Installed : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(register_typelib(L" " + quoted(shipped_file(L"visacom.tlb"))), 0);
        ASSERT_EQ(regsvr32(module), 0);
    }
    static void TearDownTestSuite()
    {
        EXPECT_EQ(regsvr32(module, true), 0);
        EXPECT_EQ(register_typelib(L" /u " + quoted(shipped_file(L"visacom.tlb"))), 0);
        EXPECT_FALSE(key_exists(classes, L"TypeLib\\{DB8CBF00-D6D3-11D4-AA51-00A024EE30BD}"));
        EXPECT_FALSE(key_exists(classes, L"Interface\\{DB8CBF1A-D6D3-11D4-AA51-00A024EE30BD}"));
    }

    static com_ptr<IFormattedIO488> create_by_progid(const wchar_t* progid)
    {
        CLSID clsid{};
        com_ptr<IFormattedIO488> object;
        EXPECT_EQ(CLSIDFromProgID(progid, &clsid), S_OK);
        EXPECT_EQ(clsid, clsid_fmtdio);
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid_formatted_io, &object), S_OK);
        return object;
    }
};

// Created by CLSID. The coclass's default interface is a reference into the standard library,
// resolved through the registration that the tool gave it.
TEST_F(Installed, CreatedByClsidWithTheDefaultInterfaceFromTheStandardLibrary)
{
    for (const IID* iid : {&IID_IUnknown, &iid_formatted_io, &IID_ISupportErrorInfo}) {
        com_ptr<IUnknown> object;
        EXPECT_EQ(CoCreateInstance(clsid_fmtdio, nullptr, CLSCTX_INPROC_SERVER, *iid, &object), S_OK);
        EXPECT_TRUE(object);
    }
    com_ptr<IProvideClassInfo2> provider;
    com_ptr<ITypeInfo> coclass;
    com_ptr<ITypeInfo> interface_info;
    HREFTYPE reference = 0;
    ASSERT_EQ(CoCreateInstance(clsid_fmtdio, nullptr, CLSCTX_INPROC_SERVER, IID_IProvideClassInfo2, &provider), S_OK);
    ASSERT_EQ(provider->GetClassInfo(&coclass), S_OK);
    ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &reference), S_OK);
    ASSERT_EQ(coclass->GetRefTypeInfo(reference, &interface_info), S_OK);
    com_ptr<ITypeLib> library;
    UINT index = 0;
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(interface_info->GetContainingTypeLib(&library, &index), S_OK);
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->guid, (GUID{0xdb8cbf00, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}}));
    library->ReleaseTLibAttr(attributes);
    EXPECT_EQ(register_typelib(L""), 2) << "the tool's usage error";
}

// Each thread, of either apartment kind, creates an object of its own at the same time as
// the others, by either ProgID, and runs its own exchanges through it. The threading model
// is "Both": each gets the object itself, not a proxy to it, which would answer IMarshal.
TEST_F(Installed, EachThreadWithItsOwnObject)
{
    std::barrier start(8);
    std::vector<std::jthread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            EXPECT_EQ(CoInitializeEx(nullptr, t % 2 ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED), S_OK);
            start.arrive_and_wait();
            scripted_session session;
            {
                const com_ptr<IFormattedIO488> io = create_by_progid(t % 2 ? L"VISA.Tellurix" : L"VISA.Tellurix.1");
                com_ptr<IUnknown> marshal;
                ASSERT_TRUE(io);
                EXPECT_EQ(io->QueryInterface(IID_IMarshal, &marshal), E_NOINTERFACE);
                ASSERT_EQ(io->putref_IO(&session), S_OK);
                std::vector<std::string> expected;
                for (int round = 0; round < 25; ++round) {
                    const std::string tag = std::to_string(t) + "." + std::to_string(round);
                    const std::wstring wide_tag(tag.begin(), tag.end());
                    session.respond("reply " + tag + "\n", {3});
                    ASSERT_EQ(write_line(io.Get(), L"Q" + wide_tag), S_OK);
                    BSTR reply = nullptr;
                    EXPECT_EQ(io->ReadString(&reply), S_OK);
                    EXPECT_EQ(take(reply), L"reply " + wide_tag + L"\n");
                    expected.push_back("Q" + tag + "\n");
                }
                EXPECT_EQ(session.writes(), expected);
            }
            EXPECT_EQ(session.references(), 0);
            CoUninitialize();
        });
}

// Thread A's write is held inside its session until thread B's write enters a session. Through
// one object, B cannot enter before A has left: A gives up after a second. Through two
// objects, B enters while A is held (for ten seconds at most, should B wait after all).
TEST_F(Installed, OneObjectSerialisesItsCallsDistinctObjectsDoNotWait)
{
    for (const bool one_object : {true, false}) {
        SCOPED_TRACE(one_object ? "one object" : "two objects");
        std::promise<void> a_inside;
        std::promise<void> b_inside;
        const std::future<void> b_entered = b_inside.get_future();
        bool b_entered_while_a_inside = false;
        scripted_session sessions[2];
        for (scripted_session& session : sessions)
            session.on_call([&](const morvane::testing::session_call& call) {
                if (call.op == morvane::testing::session_op::write && call.bytes == "A\n") {
                    a_inside.set_value();
                    b_entered_while_a_inside = b_entered.wait_for(one_object ? 1s : 10s) == std::future_status::ready;
                } else if (call.op == morvane::testing::session_op::write) {
                    b_inside.set_value();
                }
            });
        const com_ptr<IFormattedIO488> first = create_by_progid(L"VISA.Tellurix");
        const com_ptr<IFormattedIO488> second = one_object ? first : create_by_progid(L"VISA.Tellurix");
        ASSERT_EQ(second->putref_IO(&sessions[1]), S_OK);
        ASSERT_EQ(first->putref_IO(&sessions[0]), S_OK); // one object: bound to the first session only
        {
            const std::jthread a([&] { EXPECT_EQ(write_line(first.Get(), L"A"), S_OK); });
            ASSERT_EQ(a_inside.get_future().wait_for(10s), std::future_status::ready);
            const std::jthread b([&] { EXPECT_EQ(write_line(second.Get(), L"B"), S_OK); });
        }
        EXPECT_EQ(b_entered_while_a_inside, !one_object);
        EXPECT_EQ(first->putref_IO(nullptr), S_OK);
        EXPECT_EQ(second->putref_IO(nullptr), S_OK);
    }
}

} // namespace
} // namespace server_tests
