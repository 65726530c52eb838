#include "ModelTestSupport.h"

#include "CorvelEncoder/SingleInstance.h"

#include <QTemporaryDir>

namespace corvel::testing {
namespace {

// The lock in the state folder decides who runs, not the socket: a launch that holds no lock
// never runs beside the holder, even when it cannot reach it.
TEST(SingleInstance, TheLockAloneDecidesWhoRuns)
{
    QTemporaryDir dir;
    const QString lock = dir.filePath("state/instance.lock");
    SingleInstance first(dir.filePath("first.socket"), lock);
    ASSERT_EQ(first.claim({}), SingleInstance::Role::primary);
    // Its own socket path, where nobody listens: once it ran as a second instance.
    SingleInstance second(dir.filePath("second.socket"), lock);
    EXPECT_EQ(second.claim({QUrl::fromLocalFile("/a.mov")}, 300), SingleInstance::Role::refused);
    EXPECT_FALSE(QFile::exists(dir.filePath("second.socket")));

    // Another state folder is another instance.
    SingleInstance elsewhere(dir.filePath("other.socket"), dir.filePath("other/instance.lock"));
    EXPECT_EQ(elsewhere.claim({}), SingleInstance::Role::primary);
}

} // namespace
} // namespace corvel::testing
