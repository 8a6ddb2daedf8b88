#include "collect.h"

#include "eventlog/event_kind.h"

namespace {

const WCHAR kSystemDomain[] = WSTR("-");
const WCHAR kSystemUser[] = WSTR("SYSTEM");

UserEntry* findOrAddUser(UserList& list, const WCHAR* domain, const WCHAR* userName) {
    UserEntry* entry = list.findUser(domain, userName);
    return entry ? entry : list.addUser(domain, userName);
}

// Files the reader's current record under its user, with sessionName. A record that is not a
// reboot and lacks a domain or user name has no user to be filed under and is passed over, so
// that no report prints a missing name; so is one whose user cannot be allocated.
void fileUnderUser(EventLogReader& reader, UserList& list, const WCHAR* sessionName) {
    if (!reader.domain() || !reader.userName())
        return;
    uint32_t number = list.userNumber({reader.domain(), reader.domainUnits()},
                                      {reader.userName(), reader.userNameUnits()});
    if (!number) {
        UserEntry* entry = list.addUser(reader.domain(), reader.userName());
        if (!entry)
            return;
        number = entry->ordinal + 1;
    }
    list.fileEvent(number - 1, sessionName, reader.sessionNameUnits(), reader.sessionId(),
                   reader.kind(), reader.time());
}

// Walks the logs, hands each record to file with the list of its computer, and orders the
// lists. Inlined into each pass, with a loop of its own for one log filed into one list. A merge
// that must be made again (see LogSet::mustRestart) starts over with empty lists.
template <typename File> void fileRecords(LogSet& logs, ComputerLists& lists, File file) {
    logs.reopen();
    if (logs.size() == 1 && !lists.byComputer()) {
        EventLogReader& reader = logs.log(0);
        UserList& list = lists.list(0);
        while (reader.readNext())
            file(reader, list);
    } else {
        for (;;) {
            while (logs.readNext()) {
                EventLogReader& reader = logs.current();
                if (UserList* list = lists.listOf(reader))
                    file(reader, *list);
            }
            if (!logs.mustRestart())
                break;
            lists.clear();
            logs.reopen();
        }
    }
    lists.sort();
}

} // namespace

int collectAllEvents(LogSet& logs, ComputerLists& lists) {
    fileRecords(logs, lists, [](EventLogReader& reader, UserList& list) {
        if (reader.kind() != Reboot)
            fileUnderUser(reader, list, reader.sessionName());
        else if (UserEntry* entry = findOrAddUser(list, kSystemDomain, kSystemUser))
            list.fileEvent(*entry, nullptr, reader.sessionId(), reader.kind(), reader.time());
    });
    return 1;
}

// One walk files the logons and logoffs under their users and gathers the reboots, which each
// list keeps once for all its users (see RebootCursor): a reboot ends the sessions of every user
// of its computer, as a copy of it in each timeline would. The report shows the session names
// of logons only: logoffs are filed without theirs, which saves copying them.
int collectSessionEvents(LogSet& logs, ComputerLists& lists) {
    fileRecords(logs, lists, [](EventLogReader& reader, UserList& list) {
        if (reader.kind() != Reboot)
            fileUnderUser(reader, list, reader.kind() == Logon ? reader.sessionName() : nullptr);
        else
            list.addReboot(reader.time());
    });
    for (size_t i = 0; i < lists.size(); ++i)
        lists.list(i).settleReboots();
    return 1;
}
