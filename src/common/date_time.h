// Date-times as the program keeps them everywhere: days since 30 December
// 1899, the fraction being the time of day (a negative value counts days back
// from that date, its fraction still the time of day).
#pragma once

namespace qf {

using DateTime = double;

} // namespace qf
