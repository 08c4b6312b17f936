// How the development mode writes music times for people: "m:ss.mmm" and the musical
// position "BEAT:ROW" of the track source. Pure formatting; no clock, no console.
#pragma once
#include <string>

// "1:23.456"; negative times get a leading "-" ("-0:00.333"). The fraction of a millisecond is dropped.
std::string format_music_time(double ms);
// The row grid position of a time, as the track source writes it ("251:3"), rounded down.
std::string format_beat_row(double ms);
// The time of the row nearest to ms.
double round_to_row(double ms);
