#include "report_options.h"

UserPattern::UserPattern(const WString& pattern)
    : slash_(pattern.find(WCHAR('\\'))),
      domain_(pattern.data(), slash_ == WString::npos ? 0 : slash_),
      user_(pattern.data() + (slash_ == WString::npos ? 0 : slash_ + 1),
            slash_ == WString::npos ? pattern.size() : pattern.size() - slash_ - 1) {}

int UserPattern::matches(const WCHAR* domain, const WCHAR* userName) const {
    return (slash_ == WString::npos || domain_.matches(domain ? domain : WSTR(""))) &&
           user_.matches(userName ? userName : WSTR(""));
}
