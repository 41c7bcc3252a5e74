#pragma once

// A sample slot or channel value without data: drawn as a gap, shown as "N/A" by the track
// cursor, stored as NULL.
constexpr double NoValue = 1.7E+308;
