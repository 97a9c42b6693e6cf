#pragma once
// instrument-sim served over VXI-11 and over HiSLIP from the benchmark's folder, and a session of
// each kind to it, opened as the resource manager opens them. Winsock must be in use first.
#include <windows.h>
#include <visacom.h>
#include <wrl/client.h>
#include "instrument-sim/instrument_server_process.hpp"

struct network_instruments {
    network_instruments();
    const instrument_server_process lan{L"", L"--vxi11 --portmapper-port 0 --seconds 600"};
    const instrument_server_process hislip{L"", L"--hislip --seconds 600"};
    Microsoft::WRL::ComPtr<IMessage> vxi11_session, hislip_session;
};
