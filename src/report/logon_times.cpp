#include "logon_times.h"

#include "app/dispatch.h"
#include "settings/audit_settings.h"

void runLogonTimeCommand() {
    if (!isAuditingEnabled())
        printNotEnabledWarning();
}
