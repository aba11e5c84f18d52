// Dates and times through Windows' national-language formatting, for the user's default locale
// without user overrides: what the COM object and hyd.exe show.
#pragma once

#include "common/date_time_format.h"

namespace hyd {

const date_time_format& windows_date_time_format();

} // namespace hyd
