// IHyCommSetup of Hyd.dll under Wine, on a COM port mapped to the simulated instrument: what a
// host's real progress bar and text window receive during a search, and a change of settings
// after which the instrument answers at the new ones.
#include "common/result_codes.h"
#include "hyd.h"
#include "support/hyd_dll_win.h"
#include "support/sim_wire.h"

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Messages the host's windows received, before the controls handle them.
std::vector<std::string> g_seen;

LRESULT CALLBACK seen(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == PBM_SETRANGE)
        g_seen.push_back("range " + std::to_string(LOWORD(lp)) + "-" + std::to_string(HIWORD(lp)));
    if (m == PBM_SETPOS) g_seen.push_back("pos " + std::to_string(wp));
    if (m == WM_SETTEXT) g_seen.push_back(reinterpret_cast<const char*>(lp));
    const auto old = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(w, GWLP_USERDATA));
    return CallWindowProcA(old, w, m, wp, lp);
}

HWND window(const char* cls) {
    HWND w =
        CreateWindowExA(0, cls, "", WS_POPUP, 0, 0, 200, 20, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrA(w, GWLP_USERDATA,
                      SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(seen)));
    return w;
}

class comm_setup : public hyd::comtest::com_test {};

TEST_F(comm_setup, search_shows_progress_and_change_moves_both_sides) {
    hyd::sim::control sim;
    sim.set("baud", "19200");
    hyd::comtest::hyd_dll dll;
    hyd::com_ptr<IClassFactory> factory;
    ASSERT_EQ(dll.get_class_object(CLSID_DiVORorazivo, IID_IClassFactory, factory.put_void()),
              S_OK);
    hyd::com_ptr<IHyCommSetup> setup;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IHyCommSetup, setup.put_void()), S_OK);
    hyd::unique_handle port{CreateFileA(
        (std::string("\\\\.\\") + std::getenv("HYD_SIM_PORT")).c_str(),
        GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr)};
    ASSERT_NE(port.get(), INVALID_HANDLE_VALUE);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    HWND bar = window(PROGRESS_CLASSA), text = window("STATIC");
    ASSERT_TRUE(bar && text) << "windows need a display (xvfb-run)";

    DWORD baud = 0, parity = 9, stop = 9;
    EXPECT_EQ(setup->SearchSettings(bar, text, nullptr, port.get(), 1, &baud, &parity, &stop),
              S_OK);
    EXPECT_EQ(g_seen, (std::vector<std::string>{
                          "range 0-35", "Trying 9600 bps Baud Rate, No Parity", "pos 0", "pos 1",
                          "Trying 19200 bps Baud Rate, No Parity", "pos 2"}));
    EXPECT_EQ((std::vector<DWORD>{baud, parity, stop}), (std::vector<DWORD>{19200, 0, 0}));

    EXPECT_EQ(setup->ChangeSettings(port.get(), 9600, EVENPARITY, ONESTOPBIT, 1), S_OK);
    const std::string wire = hyd::test::wire(sim);
    EXPECT_EQ(wire.substr(wire.size() - 16), "=======CB421\rCK\r");
    auto state = sim.state();
    EXPECT_EQ(state["baud"] + state["parity"] + state["host_parity"], "9600EE");
    EXPECT_EQ(setup->Wake(port.get(), 1), S_OK);
    EXPECT_EQ(setup->ChangeSettings(port.get(), 9600, 5, ONESTOPBIT, 1), hyd::HY_E_BADPARITY);
    DestroyWindow(bar);
    DestroyWindow(text);
}

} // namespace
