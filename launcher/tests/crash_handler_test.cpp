#include "crash_handler.h"

#include <gtest/gtest.h>

#include <ostream>

#include <QString>
#include <QStringList>
#include <QtGlobal>

// Shows texts as text in test failures.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// Not static: the test program exports its symbols, so that this function
// has a name in backtrace_symbols.
__attribute__((noinline)) QStringList probeFrames(int depth) {
    QStringList lines = depth > 0 ? probeFrames(depth - 1) : backtraceLines();
    // Keeps the call above from becoming a jump, which would drop the frame.
    asm volatile("" ::: "memory");
    return lines;
}

namespace {

// Drops the frames that a sanitizer's interceptor of backtrace() adds on top.
QStringList ownFrames(QStringList lines) {
    while (!lines.isEmpty() && lines.first().contains(QStringLiteral("/libasan.so"))) {
        lines.removeFirst();
    }
    return lines;
}

QStringList messages;

void keepMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    messages.append(message);
}

TEST(BacktraceLinesTest, DemangledNamesStandAlone) {
    const QStringList lines = ownFrames(probeFrames(0));
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
    const QStringList all = probeFrames(80);
    ASSERT_EQ(all.size(), 50);
    const QStringList lines = ownFrames(all);
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
    QStringList frames;
    for (const QString& message : messages) {
        ASSERT_TRUE(message.size() >= 2 && message.startsWith(QLatin1Char('"')) &&
                    message.endsWith(QLatin1Char('"')))
            << message.toStdString();
        frames.append(message.mid(1, message.size() - 2));
    }
    frames = ownFrames(frames);
    ASSERT_GE(frames.size(), 3);
    EXPECT_EQ(frames[0], QStringLiteral("backtraceLines()"));
    EXPECT_EQ(frames[1], QStringLiteral("printBacktrace()"));
}

}  // namespace
