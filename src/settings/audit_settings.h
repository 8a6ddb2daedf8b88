// The machine configuration the utility manages: the enable flag read by the component that
// writes the audit records, and the registration of its event source.
#pragma once

#include "platform.h"

// 1 when wsxlumEvent is a non-zero REG_DWORD.
int isAuditingEnabled();

// Writes wsxlumEvent (1 or 0). 1 when written; otherwise 0, with the registry's result code in
// *status when status is given. The Velmor key is never created.
int setAuditingFlag(int on, LONG* status = nullptr);

// Creates the wsxlum source key when missing and writes TypesSupported and EventMessageFile.
// 1 when EventMessageFile was written; otherwise 0, with the result code in *status.
int registerEventSource(LONG* status = nullptr);
