#pragma once

#include "core/FileWatcher.h"

namespace kav::test {

// A watcher the test fires by hand, as the kernel would after someone else's write.
class ManualWatcher final : public FileWatcher
{
public:
    void watch(const QStringList& names) override { watched = names; }
    void fire() { Q_EMIT changed(); }

    QStringList watched;
};

} // namespace kav::test
