#include "crash_handler.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Not static: the test program exports its symbols, so that this function
// has a name in backtrace_symbols.
__attribute__((noinline)) QStringList probeFrames(int depth) {
    QStringList lines = depth > 0 ? probeFrames(depth - 1) : backtraceLines();
    // Keeps the call above from becoming a jump, which would drop the frame.
    asm volatile("" ::: "memory");
    return lines;
}

namespace {

QStringList messages;

void keepMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    messages.append(message);
}

TEST(BacktraceLinesTest, DemangledNamesStandAlone) {
    const QStringList lines = probeFrames(0);
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("backtraceLines()"));
    EXPECT_EQ(lines[1], QStringLiteral("probeFrames(int)"));
}

TEST(BacktraceLinesTest, FramesWithoutMangledNameKeepTheWholeLine) {
    const QStringList lines = probeFrames(0);
    // main() has a plain C name; its line reads "module(main+0x..) [0x..]".
    bool found = false;
    for (const QString& line : lines) {
        found = found || (line.contains(QStringLiteral("(main+0x")) &&
                          line.contains(QStringLiteral(") [0x")));
    }
    EXPECT_TRUE(found) << lines.join(QLatin1Char('\n')).toStdString();
}

TEST(BacktraceLinesTest, AtMostFiftyFrames) {
    const QStringList lines = probeFrames(80);
    ASSERT_EQ(lines.size(), 50);
    EXPECT_EQ(lines[0], QStringLiteral("backtraceLines()"));
    for (int i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i], QStringLiteral("probeFrames(int)")) << i;
    }
}

TEST(PrintBacktraceTest, OneQuotedDebugMessagePerFrame) {
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    printBacktrace();
    qInstallMessageHandler(previous);
    ASSERT_GE(messages.size(), 3);
    EXPECT_EQ(messages[0], QStringLiteral("\"backtraceLines()\""));
    EXPECT_EQ(messages[1], QStringLiteral("\"printBacktrace()\""));
    for (const QString& message : messages) {
        EXPECT_TRUE(message.startsWith(QLatin1Char('"')) && message.endsWith(QLatin1Char('"')))
            << message.toStdString();
    }
}

}  // namespace
