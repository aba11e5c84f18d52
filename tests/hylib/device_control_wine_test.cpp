// IHyDeviceControl of Hyd.dll under Wine, on a COM port mapped to the simulated instrument: the
// Win32 port (overlapped reads, the cancel event, the port's time-outs) and the four methods,
// checked on the wire from the simulator's log and in a host's log window.
#include "common/result_codes.h"
#include "hyd.h"
#include "streams/hyserial_win.h"
#include "streams/sercfg_win.h"
#include "support/hyd_dll_win.h"
#include "support/sim_wire.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

// A host's log window that records every call.
class log_window final : public IHyLogWnd {
  public:
    std::string bytes;
    std::vector<std::string> messages;
    std::string shows; // "N@bytes logged before it "

    STDMETHODIMP QueryInterface(REFIID, void** ppv) override { return *ppv = this, S_OK; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP NewCommData(signed char* data, unsigned long length) override {
        const char* text = reinterpret_cast<char*>(data);
        length == 1 ? void(bytes += *text) : void(messages.emplace_back(text, length));
        return S_OK;
    }
    STDMETHODIMP ShowWindowAsync(long n) override {
        shows += std::to_string(n) + "@" + std::to_string(bytes.size()) + " ";
        return S_OK;
    }
};

struct rig {
    hyd::sim::control sim;
    hyd::comtest::hyd_dll dll;
    hyd::com_ptr<IHyDeviceControl> device;
    hyd::unique_handle line{CreateFileA(("\\\\.\\"s + std::getenv("HYD_SIM_PORT")).c_str(),
                                        GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OVERLAPPED, nullptr)};
    hyd::unique_handle cancel_event{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE port = line.get(), cancel = cancel_event.get();
    log_window log;

    rig() {
        hyd::com_ptr<IClassFactory> factory;
        if (!dll.loaded() ||
            FAILED(dll.get_class_object(CLSID_DiVORorazivo, IID_IClassFactory, factory.put_void())))
            throw std::runtime_error("no Hyd.dll");
        factory->CreateInstance(nullptr, IID_IHyDeviceControl, device.put_void());
        CHySerial serial(port, FILE_FLAG_OVERLAPPED);
        CSerCfg settings(9600, NOPARITY, ONESTOPBIT, 0, 0);
        settings.m_settings.timeouts.ReadTotalTimeoutConstant = 300;
        settings.Apply(&serial);
    }
    void wait_without_limit() {
        COMMTIMEOUTS none{0, 0, 0, 0, 500};
        SetCommTimeouts(port, &none);
    }
    HRESULT initialize(long automatic, const char* file, long break_type = 0) {
        const std::string name = "commands-" + std::to_string(GetCurrentProcessId()) + ".txt";
        const std::wstring path(name.begin(), name.end());
        if (file) std::ofstream(name, std::ios::binary) << file;
        const hyd::unique_bstr bstr(file ? SysAllocString(path.c_str()) : nullptr);
        const HRESULT hr =
            device->Initialize(automatic, bstr.get(), port, &log, cancel, break_type);
        DeleteFileW(path.c_str());
        return hr;
    }
};

// Module messages other than the first scenario's are none.
struct scenario {
    const char* name;
    const char* sim; // simulator options
    HRESULT result;
    std::string wire;
    const char* log; // the log window's bytes; null: all the instrument sent
    HRESULT (*act)(rig&);
    friend void PrintTo(const scenario& s, std::ostream* os) { *os << s.name; }
};

const scenario scenarios[] = {
    {"initialize_with_file", "", S_OK, "<break>AB1\rCF?\rCF11110\rcs\r", nullptr,
     [](rig& r) {
         const HRESULT hr = r.initialize(1, "; note\r\nAB1\r\ncs\r\n$x\r\nlast", 1);
         EXPECT_EQ(r.log.shows, "5@0 ");
         EXPECT_EQ(r.log.messages, (std::vector{hyd::test::refused("cs"), hyd::test::generated}));
         r.log.messages.clear();
         return hr;
     }},
    {"missing_file", "", static_cast<HRESULT>(0x80070002), "", nullptr,
     [](rig& r) {
         const hyd::unique_bstr path(SysAllocString(L"no-such-commands.txt"));
         return r.device->Initialize(0, path.get(), r.port, &r.log, nullptr, 0);
     }},
    {"error_not_continued", "reject=XX", hyd::HY_E_CMDERROR, "<break>XX1\r", nullptr,
     [](rig& r) { return r.initialize(0, "XX1\r\nAB2\r\n"); }},
    {"next_times_out", "silence=1", hyd::HY_E_TIMEOUT, "", nullptr,
     [](rig& r) { return r.device->Next(r.port, &r.log, nullptr, 0); }},
    {"next_cancelled_before_a_waiting_byte", "", hyd::HY_E_CANCELLED, "", "",
     [](rig& r) {
         r.sim.send({'E', '1', '>'});
         r.sim.wait("tx", 1000);
         SetEvent(r.cancel);
         return r.device->Next(r.port, &r.log, r.cancel, 0);
     }},
    {"next_cancelled_while_waiting", "silence=1", hyd::HY_E_CANCELLED, "<break>", "",
     [](rig& r) {
         r.wait_without_limit();
         std::thread host([&] { Sleep(200), SetEvent(r.cancel); });
         const HRESULT hr = r.device->Next(r.port, &r.log, r.cancel, 0);
         host.join();
         r.sim.set("silence", "0");
         EXPECT_EQ(r.device->Close(r.port, 0), S_OK); // the port is usable again
         return hr;
     }},
    {"hung_up_mid_reply", "", E_FAIL, "", "E1",
     [](rig& r) {
         r.wait_without_limit();
         r.sim.send({'E', '1'});
         std::thread instrument([] { Sleep(500), hyd::sim::control().hangup(); });
         const HRESULT hr = r.device->Next(r.port, &r.log, r.cancel, 0);
         instrument.join();
         return hr;
     }},
    {"reset", "", S_OK, "<break>cs\r", "cs\r\n",
     [](rig& r) { return r.device->Reset(1, nullptr, r.port, &r.log, r.cancel, 0); }},
    {"close_break_string", "", S_OK, "=======", "",
     [](rig& r) { return r.device->Close(r.port, 2); }},
};

class device_control : public hyd::comtest::com_test,
                       public ::testing::WithParamInterface<scenario> {};

TEST_P(device_control, on_the_wire_and_in_the_log) {
    const scenario& s = GetParam();
    rig r;
    ASSERT_TRUE(r.device);
    ASSERT_NE(r.port, INVALID_HANDLE_VALUE);
    hyd::test::set_options(r.sim, std::string("ping_output=none ping_count=0 ") + s.sim);
    EXPECT_EQ(s.act(r), s.result);
    EXPECT_EQ(hyd::test::wire(r.sim), s.wire);
    EXPECT_EQ(r.log.messages, std::vector<std::string>{});
    EXPECT_EQ(r.log.bytes, s.log ? s.log : hyd::test::instrument_sent(r.sim));
}

INSTANTIATE_TEST_SUITE_P(scenarios, device_control, ::testing::ValuesIn(scenarios),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
