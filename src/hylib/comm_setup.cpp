#include "hylib/comm_setup.h"

#include "common/string_table.h"
#include "hylib/dialogue_util.h"
#include "hylib/hycmd.h"
#include "hylib/interpreter.h"

#include <algorithm>

namespace hyd::setup {

namespace {

// The usual rates first, then the slower ones from the fastest down.
constexpr std::uint32_t search_order[] = {9600, 19200, 38400, 57600, 115200, 4800, 2400, 1200, 300};
constexpr std::uint32_t pass_parity[] = {0, 2};
constexpr int pass_label[] = {9850, 9851};
constexpr int trying_text = 9853;
constexpr std::uint32_t two_stop_bits = 2;
constexpr int tries_per_setting = 2;
constexpr int last_attempt = 2 * 9 * tries_per_setting - 1;
// The CB? reply begins with the echo "CB?\r\n"; then "CB = bps".
constexpr std::size_t parity_digit_at = 11;
constexpr std::size_t stop_digit_at = 12;

// Position of value in table, or -1.
int position_of(std::span<const std::uint32_t> table, std::uint32_t value) {
    const auto at = std::find(table.begin(), table.end(), value);
    return at == table.end() ? -1 : static_cast<int>(at - table.begin());
}

// One try at the port's current setting: the settings the instrument reports, or nothing.
bool ask(port& p, CSNCmdInterpreter& rules, cancel_ref cancel, std::uint32_t baud, settings* found,
         bool* cancelled) {
    CHyBrkCmd wake_up(&rules, 1);
    if (failed(wake_up.Execute(&p, mode_text, nullptr, cancel))) {
        *cancelled = p.cancelled(cancel);
        return false;
    }
    CHyCmd query("CB?", &rules);
    if (failed(query.Execute(&p, mode_text, nullptr, cancel))) return false;
    const std::string& reply = query.reply();
    if (reply.size() <= stop_digit_at) return false;
    const int parity = reply[parity_digit_at] - '1';
    const int stop = reply[stop_digit_at] - '1';
    if (parity < 0 || parity >= 5 || stop < 0 || stop >= 2) return false;
    *found = {baud, parities[parity], stop_bits[stop]};
    return true;
}

} // namespace

std::string search_progress::Text(int id) {
    const char* text = string_table_text(id);
    return text ? text : "";
}

long copy_table(std::span<const std::uint32_t> table, std::uint32_t* out, long cMax) {
    const long n = std::clamp(cMax, 0L, static_cast<long>(table.size()));
    std::copy_n(table.begin(), n, out);
    return n;
}

hresult search(port& p, line_control& line, search_progress* progress, cancel_ref cancel,
               settings* found) {
    return any_exception_fails([&]() -> hresult {
        CSNCmdInterpreter rules;
        if (progress) progress->range(0, last_attempt);
        int attempt = 0;
        for (int pass = 0; pass < 2; ++pass) {
            for (const std::uint32_t baud : search_order) {
                if (progress) {
                    const std::string text =
                        fill_text(progress->Text(trying_text), "%1", std::to_string(baud));
                    progress->text(fill_text(text, "%2", progress->Text(pass_label[pass])));
                }
                // A pass starts from whole settings; within it only the rate changes.
                const hresult set = baud == search_order[0]
                                        ? line.apply({baud, pass_parity[pass], two_stop_bits})
                                        : line.set_baud(baud);
                if (failed(set)) return set;
                for (int t = 0; t < tries_per_setting; ++t) {
                    if (progress) progress->position(attempt);
                    ++attempt;
                    bool cancelled = false;
                    if (ask(p, rules, cancel, baud, found, &cancelled)) return s_ok;
                    if (cancelled) return HY_E_CANCELLED;
                }
            }
        }
        return e_fail;
    });
}

hresult change(port& p, line_control& line, const settings& wanted) {
    const int baud = position_of(baud_rates, wanted.baud);
    if (baud < 0) return HY_E_BADBAUD;
    const int parity = position_of(parities, wanted.parity);
    if (parity < 0) return HY_E_BADPARITY;
    const int stop = position_of(stop_bits, wanted.stop_bits);
    if (stop < 0) return HY_E_BADSTOPBITS;
    return any_exception_fails([&]() -> hresult {
        CSNCmdInterpreter rules;
        CHyBrkCmd wake_up(&rules, 2);
        hresult hr = wake_up.Execute(&p, mode_text, nullptr, nullptr);
        if (failed(hr)) return hr;
        const std::string text =
            "CB" + std::to_string(baud) + std::to_string(parity + 1) + std::to_string(stop + 1);
        CHyCmd cb(text.c_str(), &rules);
        if (failed(hr = cb.Execute(&p, mode_text, nullptr, nullptr))) return hr;
        if (failed(hr = line.apply(wanted))) return hr;
        CHyCmd save("CK", &rules);
        if (failed(hr = save.Execute(&p, mode_text, nullptr, nullptr))) return hr;
        return s_ok;
    });
}

} // namespace hyd::setup
