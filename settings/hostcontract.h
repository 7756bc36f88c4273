#pragma once

// How a host program finds the utility and asks it to switch the radio. Plain C strings, so the
// host-side sender (libxcb only), the benchmark and the tests share this one copy with the
// utility; scripts/lib/zolvekcontract.py reads them from here for the Python helpers.
namespace HostContract {
// The main window's title, exactly (two blanks before "FT-847").
inline constexpr char WindowTitle[] = "ZOLVEK Yaesu  FT-847 PTT V1";
// The registered message (Windows) or X atom (X11) that carries command and state.
inline constexpr char MessageName[] = "ZOLVEKFUNC";
} // namespace HostContract
