// The /list report: every event of the source in time order.
#pragma once

void runActivityListCommand();
