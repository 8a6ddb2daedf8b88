// The C library's time format (nl_langinfo(T_FMT)) as the Windows functions need it.
#pragma once

#include <string>

// T_FMT forced to 24-hour form without an AM/PM marker: %I->%H, %l->%k, %r->%H:%M:%S, %p and
// %P dropped with the space before them. Without seconds, %S goes with the text before it.
std::string twentyFourHourFormat(const std::string& tfmt, int withSeconds);

// T_FMT in the Windows picture language (%H->HH, %I->hh, %M->mm, %S->ss, %p->tt,
// %T->HH:mm:ss, %r->hh:mm:ss tt, %R->HH:mm), and its separator: the literal text between the
// hour and minute fields when the same text also separates minutes and seconds, else ":" (a
// picture of unit words such as %H時%M分%S秒 has none).
std::string timePicture(const std::string& tfmt);
std::string timeSeparator(const std::string& tfmt);
