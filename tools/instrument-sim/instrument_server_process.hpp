#pragma once
// instrument-sim as a child process, for the tests and the benchmark: started with its options
// after "--port 0", the port it bound read from its first line of output, and ended with the
// object, after `grace_ms` for a server that stops by itself.
#include <windows.h>
#include <cstdlib>
#include <string>

class instrument_server_process {
public:
    // `folder`: where instrument-sim.exe is, relative to this program's folder ("" for the same).
    instrument_server_process(const std::wstring& folder, const std::wstring& options, DWORD grace_ms = 0)
        : grace_ms_(grace_ms)
    {
        wchar_t path[MAX_PATH];
        const std::wstring self(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
        std::wstring command = L"\"" + self.substr(0, self.find_last_of(L"\\/") + 1) + folder +
                               L"instrument-sim.exe\" --port 0 " + options;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE read_end = nullptr, write_end = nullptr;
        if (!CreatePipe(&read_end, &write_end, &inherit, 0))
            return;
        SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write_end;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        const bool started =
            CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process_);
        CloseHandle(write_end);
        std::string line;
        char c;
        DWORD got = 0;
        while (started && ReadFile(read_end, &c, 1, &got, nullptr) && got == 1 && c != '\n')
            line += c;
        CloseHandle(read_end);
        port_ = static_cast<unsigned short>(std::atoi(line.c_str()));
    }
    ~instrument_server_process()
    {
        if (!process_.hProcess)
            return;
        if (WaitForSingleObject(process_.hProcess, grace_ms_) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 5000);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    instrument_server_process(const instrument_server_process&) = delete;
    instrument_server_process& operator=(const instrument_server_process&) = delete;

    // 0 when it did not start or bound nothing.
    unsigned short port() const { return port_; }

private:
    PROCESS_INFORMATION process_{};
    unsigned short port_ = 0;
    DWORD grace_ms_;
};
