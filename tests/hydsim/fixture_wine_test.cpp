// The test bench under Wine: a Windows program reaches the simulated instrument through the mapped
// COM port, and the simulator sees what the pty alone cannot carry (breaks, parity).
#include "support/sim_control.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

TEST(hydsim_wine, a_com_port_reaches_the_instrument) {
    std::string path = std::string("\\\\.\\") + std::getenv("HYD_SIM_PORT");
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
    COMMTIMEOUTS timeouts{0, 0, 2000, 0, 500};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Overlapped I/O as a host does it; what came back up to the prompt.
    auto talk = [&](std::string text) {
        DWORD done = 0;
        if (!WriteFile(port, text.data(), DWORD(text.size()), &done, &ov))
            GetOverlappedResult(port, &ov, &done, TRUE);
        std::string got;
        for (char c; got.size() < 4096 && !got.ends_with("\r\n>"); got += c)
            if ((!ReadFile(port, &c, 1, &done, &ov) &&
                 !GetOverlappedResult(port, &ov, &done, TRUE)) ||
                done != 1)
                break;
        return got;
    };
    hyd::sim::control sim;
    EXPECT_NE(talk("=======").find("HY I"), std::string::npos);
    EXPECT_EQ(talk("CB?\r").substr(0, 13), "CB?\r\nCB = 411");
    ASSERT_TRUE(SetCommBreak(port));
    EXPECT_TRUE(sim.wait("break_on", 0)) << "SetCommBreak returned before the simulator saw it";
    ASSERT_TRUE(ClearCommBreak(port));
    EXPECT_NE(talk("").find("HY I"), std::string::npos);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = CBR_19200;
    dcb.Parity = EVENPARITY;
    ASSERT_TRUE(SetCommState(port, &dcb) && GetCommState(port, &dcb));
    EXPECT_EQ(dcb.Parity, EVENPARITY) << "read back as from a real port";
    auto s = sim.state();
    EXPECT_EQ(s["host_baud"] + s["host_parity"] + s["understood"], "19200E0");
    CloseHandle(ov.hEvent);
    CloseHandle(port);
}
