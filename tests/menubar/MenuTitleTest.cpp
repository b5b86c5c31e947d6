// Status text as one menu line shows it, and a status item that is left alone while its state stays.
#include "MenuBarFixture.hpp"

namespace {

using State = DaemonStatus::State;

TEST_F(MenuBarTest, AmpersandsTabsAndLineBreaksStayInOneMenuLine) {
    DaemonStatus status = fullStatus(State::warning, "Wartung & Umbau:\r\n\tab 22 Uhr");
    status.hostname = "a&b.example";
    writeStatus(status);
    launch();
    // The text after Qt has taken "&" for mnemonics and before a tab would open the shortcut column.
    EXPECT_EQ(entry(1)->iconText(), "Wartung & Umbau: ab 22 Uhr");
    EXPECT_EQ(entry(2)->iconText(), "Host: a&b.example");
}

TEST_F(MenuBarTest, IconAndTooltipAreSetOnlyWhenTheyChange) {
    writeStatus(fullStatus(State::ok, "IP unverändert"));
    launch();
    qint64 shown = delegate->statusItem()->icon().cacheKey();
    writeStatus(fullStatus(State::ok, "IP wieder unverändert"));
    delegate->refresh();
    EXPECT_EQ(delegate->statusItem()->icon().cacheKey(), shown);

    writeStatus(fullStatus(State::error, "Zugangsdaten abgelehnt"));
    delegate->refresh();
    EXPECT_NE(delegate->statusItem()->icon().cacheKey(), shown);
    EXPECT_EQ(shownToolTip(), "Korvane: Fehler");
}

} // namespace
