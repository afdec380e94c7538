// CEventItem: one row of the event list. The list creates and owns it.
#pragma once

#include <QString>
#include <cstdint>

#include "enclosure/poll/event_rule.h"  // EventLevel

namespace halvorin {

class CEventItem {
  public:
    CEventItem(int64_t time, QString source, QString text, int level)
        : time(time), source(std::move(source)), text(std::move(text)), level(level) {}
    virtual ~CEventItem() = default;

    int64_t time;    // seconds since 1970 when the event was added
    QString source;  // the enclosure (or other origin) it is about
    QString text;    // the finished message, first character upper-cased
    int level;       // EventLevel; other values are drawn without an icon
};

}  // namespace halvorin
