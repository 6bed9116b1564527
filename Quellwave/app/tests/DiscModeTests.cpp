// Disc mode against a virtual drive: the disc's tracks on the display, the drive check request, the tray
// button, and the power and device events of the test source (media removed while playing, put back, other
// drives, suspend and resume, the end of the session).
#include "AppTestSupport.h"
#include "TestKit/Bytes.h"
#include "TestKit/DiscImage.h"

#include "app/PlayerMessages.h"
#include "shell/PlaylistFile.h"
#include "shell/Settings.h"
#include "shell/SystemEvents.h"
#include "ui/CDialCtrl.h"
#include "ui/ControlNotify.h"
#include "ui/TransparentBitmapStatic.h"

#include "Platform/VirtualDrive.h"

namespace apptest {
namespace {

using namespace app;

constexpr char kSettingsKey[] = "Software\\Orva Corporation\\Quellwave\\Settings";
// Track lengths in sectors (75 a second).
constexpr std::array<std::uint32_t, 3> kTracks = {75 * 20, 75 * 3, 75 * 4};

class DiscModeTest : public PlayerFixture {
protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        WriteDisc();
        testkit::RegistrySandbox::MapImage('V', Cue());
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "DefaultMode", 0);
        SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "DefaultDrive", 'V');
    }
    std::filesystem::path Cue() const { return dir_.Path() / "disc.cue"; }
    // A quiet tone over the whole disc.
    void WriteDisc() {
        testkit::DiscTracks tracks;
        for (const std::uint32_t length : kTracks)
            tracks.emplace_back('a', length);
        std::string bin(testkit::KindsOf(tracks).size() * 2352, '\0');
        for (std::size_t i = 0; i + 1 < bin.size(); i += 2)
            bin[i] = static_cast<char>((i / 4) % 64);
        ASSERT_TRUE(testkit::WriteText(dir_.Path() / "disc.bin", bin));
        ASSERT_TRUE(testkit::WriteText(Cue(), testkit::SheetOf("disc.bin", tracks)));
    }
    std::shared_ptr<platform::VirtualDrive> Drive() {
        std::string error;
        auto drive = platform::VirtualDrive::ForLetter('V', Cue(), error);
        EXPECT_TRUE(drive) << error;
        return drive;
    }
    void StartDisc() {
        StartWindow();
        events_.Start(&Panel());
    }
    std::uint32_t DiscMs() const {
        std::uint32_t sectors = 0;
        for (auto t : kTracks)
            sectors += t;
        return sectors * 1000 / 75;
    }

    TestSystemEventSource events_;
};

TEST_F(DiscModeTest, TheDiscsTracksAreShownStoppedAndTheUncheckedDriveIsOfferedItsCheck) {
    int nested = 0;
    services_.duringDriveCheck = [&] {
        // A second request while the check is open: once dispatched by the check's own loop, once left
        // in the queue until the check closes. Both are dropped.
        Panel().post(Registered().needDriveCheck, 'V' - 'A', 0);
        nested += Panel().DispatchPostedMessages();
        Panel().post(Registered().needDriveCheck, 'V' - 'A', 0);
    };
    StartDisc();
    EXPECT_TRUE(Panel().DiscMode());
    ASSERT_EQ(Panel().TrackCount(), kTracks.size());
    for (unsigned t = 1; t <= kTracks.size(); ++t)
        EXPECT_NEAR(Panel().TrackLength(t), kTracks[t - 1] * 1000.0 / 75, 1.0) << t;
    EXPECT_EQ(Display().TrackNumber(), kTracks.size());
    EXPECT_NEAR(Display().LastTime(), DiscMs(), 3.0);
    Settle(Panel());
    EXPECT_EQ(services_.driveChecks, std::vector<unsigned>{'V'});
    EXPECT_GE(nested, 1) << "the second request was dispatched while the check was open";
    EXPECT_TRUE(ui::FindControl(&Panel(), kCmdEject)->isVisible());
    EXPECT_FALSE(ui::FindControl(&Panel(), kCmdOpenFiles)->isVisible());
}

TEST_F(DiscModeTest, TheTrayButtonOpensAClosedTrayAndClosesAnOpenOne) {
    StartDisc();
    auto drive = Drive();
    struct Case {
        bool trayKnown;
        DWORD ejectTakesMs; // how long the eject seems to take when the tray's state is unknown
        bool openBefore;
        bool openAfter;
    };
    const std::vector<Case> cases = {
        {true, 0, false, true},
        {true, 0, true, false}, // the drive tells its tray's state
        {false, 900, false, true},
        {false, 0, true, false}, // else a quick eject means it was open
    };
    for (const Case& c : cases) {
        if (c.openBefore)
            drive->Eject();
        else
            drive->Load();
        services_.trayQuery = [&](unsigned char) {
            if (!c.trayKnown)
                return TrayState::Unknown;
            return drive->TrayOpen() ? TrayState::Open : TrayState::Closed;
        };
        services_.tickStep = c.ejectTakesMs;
        Click(kCmdEject);
        EXPECT_EQ(drive->TrayOpen(), c.openAfter) << c.trayKnown << c.openBefore;
    }
    services_.tickStep = 0;
    drive->Load();
}

TEST_F(DiscModeTest, TheEjectCycleShowsTheOpenTrayAndTheSecondPressOrPlayReloadsTheDisc) {
    StartDisc();
    auto drive = Drive();
    ASSERT_EQ(Panel().TrackCount(), kTracks.size());
    for (const bool trayKnown : {true, false}) {
        SCOPED_TRACE(trayKnown ? "the drive tells its tray's state" : "the tray's state is unknown");
        services_.trayQuery = [&](unsigned char) {
            if (!trayKnown)
                return TrayState::Unknown;
            return drive->TrayOpen() ? TrayState::Open : TrayState::Closed;
        };
        const auto eject = [&] {
            // Without the tray's state, an eject that takes long opened a closed tray.
            services_.tickStep = drive->TrayOpen() ? 0 : 900;
            Click(kCmdEject);
            services_.tickStep = 0;
        };
        const auto expectOpen = [&](const char* when) {
            SCOPED_TRACE(when);
            EXPECT_TRUE(drive->TrayOpen());
            EXPECT_FALSE(Playing());
            EXPECT_FALSE(Panel().Started());
            EXPECT_TRUE(Display().Element(CLEDDialog::kBanner1)->isVisible()) << "the display shows OPEN";
            EXPECT_FALSE(Display().Element(CLEDDialog::kTrackUnits)->isVisible()) << "no old disc's tracks";
            EXPECT_EQ(Panel().TrackCount(), 0u);
            EXPECT_TRUE(Panel().State().trayOpen);
        };
        const auto expectLoaded = [&](const char* when) {
            SCOPED_TRACE(when);
            EXPECT_FALSE(drive->TrayOpen());
            EXPECT_FALSE(Display().Element(CLEDDialog::kBanner1)->isVisible());
            ASSERT_EQ(Panel().TrackCount(), kTracks.size());
            EXPECT_FALSE(Panel().State().trayOpen);
        };

        Key(Qt::Key_F6);
        ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
        eject();
        expectOpen("ejected while playing");

        eject();
        expectLoaded("the second press closes the tray");
        EXPECT_FALSE(Playing());
        EXPECT_EQ(Display().TrackNumber(), kTracks.size()) << "the stopped display of the disc";
        EXPECT_NEAR(Display().LastTime(), DiscMs(), 3.0);
        Key(Qt::Key_F6);
        EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); })) << "the reloaded disc plays";

        eject();
        expectOpen("ejected again");
        Key(Qt::Key_F6);
        expectLoaded("play closes the tray");
        EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); })) << "and plays the disc";
        EXPECT_EQ(Panel().CurrentTrack(), 1u);
        Key(Qt::Key_F7);
    }
}

TEST_F(DiscModeTest, ADiscRemovedWhilePlayingStopsCleanlyAndComesBackWhenPutIn) {
    StartDisc();
    Click(kCmdPlay);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    ASSERT_TRUE(Pump(Panel(), [&] { return Display().LastTime() >= 1000; })) << "a position came";

    auto drive = Drive();
    drive->Eject();
    EXPECT_TRUE(events_.MediaRemoved('V'));
    Settle(Panel());
    EXPECT_FALSE(Playing());
    EXPECT_FALSE(Panel().Started());
    EXPECT_EQ(Panel().TrackCount(), 0u);
    EXPECT_TRUE(Display().Element(CLEDDialog::kBanner2)->isVisible()) << "the disc cannot be opened";
    // Commands on the empty drive do nothing.
    for (int key : {Qt::Key_F6, Qt::Key_1, Qt::Key_Return})
        Key(key);
    Click(kCmdNext);
    EXPECT_FALSE(Playing());

    drive->Load();
    EXPECT_TRUE(events_.MediaArrived('V'));
    Settle(Panel());
    EXPECT_EQ(Panel().TrackCount(), kTracks.size());
    EXPECT_FALSE(Display().Element(CLEDDialog::kBanner2)->isVisible());
    Key(Qt::Key_F6);
    EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); }));
}

TEST_F(DiscModeTest, EventsOfOtherDrivesAndOtherKindsChangeNothing) {
    StartDisc();
    Click(kCmdPlay);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    DeviceChange notMedia;
    notMedia.deviceType = DBT_DEVTYP_VOLUME;
    notMedia.unitMask = 1u << ('V' - 'A');
    DeviceChange port;
    port.deviceType = 3;
    port.flags = DBTF_MEDIA;
    port.unitMask = 1u << ('V' - 'A');
    DeviceChange empty;
    empty.deviceType = DBT_DEVTYP_VOLUME;
    empty.flags = DBTF_MEDIA;
    events_.MediaArrived('W');
    events_.MediaRemoved('D');
    events_.DeviceChanged(DBT_DEVICEARRIVAL, notMedia);
    events_.DeviceChanged(DBT_DEVICEREMOVECOMPLETE, port);
    events_.DeviceChanged(DBT_DEVICEARRIVAL, empty);
    events_.DeviceChanged(0x0007, notMedia);
    Settle(Panel());
    EXPECT_TRUE(Playing());
    EXPECT_TRUE(Panel().Started());
}

TEST_F(DiscModeTest, AMediaChangeInFileModeChangesNothing) {
    const std::string wav = WriteWav(dir_ / "a.wav", 20);
    StartFiles({wav});
    events_.Start(&Panel());
    Click(kCmdPlay);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    events_.MediaRemoved('V');
    Settle(Panel());
    EXPECT_TRUE(Playing());
    EXPECT_FALSE(Panel().DiscMode());
}

TEST_F(DiscModeTest, SuspendStopsAndResumeReopensTheDiscWithoutPlaying) {
    StartDisc();
    Click(kCmdPlay);
    ASSERT_TRUE(Pump(Panel(), [&] { return Playing(); }));
    events_.Suspend();
    Settle(Panel());
    EXPECT_FALSE(Playing());
    EXPECT_FALSE(Panel().Started());
    EXPECT_EQ(Panel().CurrentTrack(), 1u);
    events_.Resume();
    Settle(Panel());
    EXPECT_FALSE(Playing());
    EXPECT_TRUE(Panel().Engine().SourceOpen());
    EXPECT_TRUE(Panel().Engine().IsCD());
    Key(Qt::Key_F6);
    EXPECT_TRUE(Pump(Panel(), [&] { return Playing(); })) << "the reopened disc plays";
    events_.EndSession();
    Settle(Panel());
    EXPECT_FALSE(Playing());
    EXPECT_FALSE(Panel().Started());
}

TEST_F(DiscModeTest, ALowerCaseLetterFromTheCommandLineStillMatchesItsDrive) {
    SetDword(platform::HKEY_CURRENT_USER, kSettingsKey, "DefaultDrive", 'v');
    StartDisc();
    ASSERT_EQ(Panel().TrackCount(), kTracks.size());
    auto drive = Drive();
    drive->Eject();
    events_.MediaRemoved('V');
    Settle(Panel());
    EXPECT_EQ(Panel().TrackCount(), 0u) << "the playback drive's media went";
    drive->Load();
}

TEST_F(DiscModeTest, SwitchingModesStoresEachAndSwapsTheButtons) {
    const std::string wav = WriteWav(dir_ / "a.wav", 1);
    StartDisc();
    ASSERT_TRUE(WritePlaylist({wav}));
    Panel().post(WM_RELOAD_PLAYLIST, 0, 0);
    Settle(Panel());
    EXPECT_FALSE(Panel().DiscMode());
    EXPECT_EQ(ReadMode(), 1u);
    Click(kCmdToDiscMode);
    EXPECT_TRUE(Panel().DiscMode());
    EXPECT_EQ(ReadMode(), 0u);
    EXPECT_EQ(Panel().TrackCount(), kTracks.size());
    Click(kCmdToFileMode);
    EXPECT_FALSE(Panel().DiscMode());
    EXPECT_EQ(Panel().Tracks(), TrackList{wav});
    EXPECT_TRUE(ui::FindControl(&Panel(), kCmdOpenFiles)->isVisible());
    EXPECT_FALSE(ui::FindControl(&Panel(), kCmdEject)->isVisible());
}

} // namespace
} // namespace apptest
