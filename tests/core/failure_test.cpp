#include "core/failure.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>

namespace nagisora {
namespace {

// What the message box and the command line print of each kind of failure.
TEST(FailureText, PrintsEachKind) {
    const struct {
        Failure failure;
        FailureKind kind;
        std::string text;
    } cases[] = {
        {Failure::File(IoCode::FileNotFound, ENOENT), FailureKind::File, "ﾌｧｲﾙが見つかりません."},
        // The code is shown, not the system's number behind it; a number without a code is shown itself, also
        // one that equals a listed code (EIO is 5, the code of a denied access).
        {Failure::File(IoCode::FileInUse, EBUSY), FailureKind::File, "I/O ｴﾗｰ (32)."},
        {Failure::File(std::nullopt, EIO).Within("out.mid"), FailureKind::File, "out.mid: I/O ｴﾗｰ (5)."},
        {Failure::Media(MediaCode::NoDeviceOpen), FailureKind::Media, "MCI ﾃﾞﾊﾞｲｽがありません."},
        {Failure::Media(MediaCode::Unknown).Within("音を出せません"), FailureKind::Media,
         "音を出せません: 原因不明のｴﾗｰ."},
        {Failure::Refused("保存できない文字があります", {{1, 2}, {3, 4}, {5, 6}, {7, 8}}, 5),
         FailureKind::Refused, "保存できない文字があります (1 行 2 列、3 行 4 列、5 行 6 列 ほか 2 文字)."},
        {Failure::Replaced("コードページ 932 にない文字を ? にしました", {{2, 1}}, 1), FailureKind::Replaced,
         "コードページ 932 にない文字を ? にしました (2 行 1 列)."},
        {Failure::System(EINVAL, "文字コードの変換を使えません"), FailureKind::System,
         "文字コードの変換を使えません."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.failure.Kind(), c.kind) << c.text;
        EXPECT_EQ(FailureText(c.failure), c.text);
    }
}

} // namespace
} // namespace nagisora
