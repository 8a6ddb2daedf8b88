// The /time report: each user's logon sessions, their ends and lengths, and the total.
#pragma once

void runLogonTimeCommand();
