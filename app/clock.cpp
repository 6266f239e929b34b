#include "app/clock.h"

namespace appclock {

namespace {
std::function<QDateTime()> &source()
{
    static std::function<QDateTime()> fn;
    return fn;
}
} // namespace

QDateTime now()
{
    return source() ? source()() : QDateTime::currentDateTime();
}

void setSource(std::function<QDateTime()> fn)
{
    source() = std::move(fn);
}

} // namespace appclock
