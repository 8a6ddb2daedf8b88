#include "activity_list.h"

#include "app/dispatch.h"
#include "settings/audit_settings.h"

void runActivityListCommand() {
    if (!isAuditingEnabled())
        printNotEnabledWarning();
}
