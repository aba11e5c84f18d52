#include "datasource/item_strings.h"

#include "ensemble/ensemble_format.h"
#include "ensemble/item_values.h"

#include <cstdio>

namespace hyd {

namespace {

hresult serial_text(const CSNBasePersist& holder, std::string* text) {
    if (!holder.holds_record()) return e_fail;
    return cpu_serial_text(holder, text) ? s_ok : s_false;
}

// Reads the items in order into values; the first failure ends the reads.
template <std::size_t N>
hresult read_items(const long_reader& read_long, const item_value (&items)[N],
                   item_value (&values)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        values[i] = 0;
        if (const hresult hr = read_long(items[i], &values[i]); failed(hr)) return hr;
    }
    return s_ok;
}

} // namespace

int ensemble_full_year(item_value two_digit_year) {
    return static_cast<int>(two_digit_year) + (two_digit_year < 80 ? 2000 : 1900);
}

bool format_item_date(const date_time_format& format, int full_year, int month, int day,
                      std::string* out) {
    return is_valid_date(full_year, month, day) && format.short_date(full_year, month, day, out);
}

bool format_item_time(const date_time_format& format, int hour, int minute, int second,
                      int hundredths, std::string* out) {
    const long long ms = static_cast<long long>(hundredths) * 10;
    if (hundredths < 0 || !is_valid_time(hour, minute, second, static_cast<int>(ms))) return false;
    std::string time;
    if (!format.time_24h(hour, minute, second, static_cast<int>(ms), &time)) return false;
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, ".%02ld", static_cast<long>(hundredths));
    *out = time + fraction;
    return true;
}

hresult get_item_string(const CSNBasePersist& holder, item_value item, const long_reader& read_long,
                        const date_time_format& format, std::string* text) {
    if (!text) return e_invalidarg;
    try {
        std::string made;
        if (item == FIX_CPU_SERIAL) {
            return serial_text(holder, text);
        } else if (item == DERIVED_ENSDT) {
            const item_value items[] = {VAR_TMONTH, VAR_TDAY, VAR_TYEAR};
            item_value v[3];
            if (const hresult hr = read_items(read_long, items, v); failed(hr)) return hr;
            if (!format_item_date(format, ensemble_full_year(v[2]), static_cast<int>(v[0]),
                                  static_cast<int>(v[1]), &made))
                return e_fail;
        } else if (item == DERIVED_ENSTM) {
            const item_value items[] = {VAR_THOUR, VAR_TMIN, VAR_TSEC, VAR_THSEC};
            item_value v[4];
            if (const hresult hr = read_items(read_long, items, v); failed(hr)) return hr;
            if (!format_item_time(format, static_cast<int>(v[0]), static_cast<int>(v[1]),
                                  static_cast<int>(v[2]), static_cast<int>(v[3]), &made))
                return e_fail;
        } else {
            return e_invalidarg;
        }
        *text = std::move(made);
        return s_ok;
    } catch (...) {
        return e_fail;
    }
}

hresult get_item_string(const CSNBasePersist& holder, item_value item,
                        const date_time_format& format, std::string* text) {
    return get_item_string(
        holder, item,
        [&holder](item_value id, item_value* value) {
            item_value count = 0;
            return get_long(holder, id, HY_INDEX_ALL, value, 1, &count);
        },
        format, text);
}

} // namespace hyd
