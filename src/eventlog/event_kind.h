#pragma once

#include <cstdint>

// The whole 32-bit event identifier of a record; other values carry no user.
enum EventKind : uint32_t {
    Reboot = 1,
    Logon = 2,
    Logoff = 3,
};
