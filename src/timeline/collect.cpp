#include "collect.h"

#include "eventlog/event_kind.h"

#include <algorithm>
#include <vector>

namespace {

const WCHAR kSystemDomain[] = WSTR("-");
const WCHAR kSystemUser[] = WSTR("SYSTEM");

UserEntry* findOrAddUser(UserList& list, const WCHAR* domain, const WCHAR* userName) {
    UserEntry* entry = list.findUser(domain, userName);
    return entry ? entry : list.addUser(domain, userName);
}

// Files the reader's current record under its user. A record that is not a reboot and lacks a
// domain or user name has no user to be filed under and is passed over, so that no report
// prints a missing name; so is one whose user cannot be allocated.
void fileUnderUser(EventLogReader& reader, UserList& list) {
    if (!reader.domain() || !reader.userName())
        return;
    if (UserEntry* entry = findOrAddUser(list, reader.domain(), reader.userName()))
        entry->insertEvent(reader.sessionName(), reader.sessionId(), reader.kind(), reader.time());
}

} // namespace

int collectAllEvents(EventLogReader& reader, UserList& list) {
    reader.reopen();
    while (reader.readNext()) {
        if (reader.kind() != Reboot) {
            fileUnderUser(reader, list);
        } else if (UserEntry* entry = findOrAddUser(list, kSystemDomain, kSystemUser)) {
            entry->insertEvent(nullptr, reader.sessionId(), reader.kind(), reader.time());
        }
    }
    return 1;
}

int collectSessionEvents(EventLogReader& reader, UserList& list) {
    reader.reopen();
    while (reader.readNext())
        if (reader.kind() != Reboot)
            fileUnderUser(reader, list);
    // Every reboot goes into every user's timeline: gathered first, then merged into each
    // timeline in one walk instead of one walk per reboot.
    std::vector<uint32_t> reboots;
    reader.reopen();
    while (reader.readNext())
        if (reader.kind() == Reboot)
            reboots.push_back(reader.time());
    std::sort(reboots.begin(), reboots.end());
    list.rewind();
    while (UserEntry* entry = list.next())
        entry->insertMarkers(Reboot, reboots);
    return 1;
}
