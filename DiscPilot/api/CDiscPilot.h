// The CD drive controller: the one class libDiscPilot.so exports. It opens one CD drive by its letter,
// reports the audio tracks, positions a continuous read and hands out 16-bit stereo PCM (44 100 Hz,
// little-endian, left then right), and ejects and loads the tray. Nothing is thrown across it; results
// are plain values.
//
// Units: tracks are numbered from 1; times are milliseconds converted with 75 sectors per second, always
// truncating (length in ms = sectors × 40 / 3, start sector = ms × 3 / 40, in 32-bit unsigned arithmetic).
//
// Threads: the class takes no lock. SetDrive, SetPosition and CloseDrive come from one controlling thread
// (SetPosition may also come from a second one that the caller keeps from overlapping it); GetData from
// one consuming thread. The volume members keep no state and may be called from any thread.
#pragma once

#include "DiscPilotExport.h"

namespace discpilot {
struct cddaCReaderHolder;
} // namespace discpilot

class DISCPILOT_API CDiscPilot {
public:
    // The outcome of the last drive check.
    enum CheckDriveResult : int {
        CheckDriveSucceeded = 0, // checked, read condition stored
        CheckDriveNotReady = 1,  // the buffer probe failed and the drive then reported not ready
        CheckDriveFailed = 2,    // any other failure, a failed pre-check included
    };

    CDiscPilot();
    // Shares the other object's open drive (both must be closed before it goes away).
    CDiscPilot(const CDiscPilot& other);
    CDiscPilot& operator=(const CDiscPilot& other);
    // The same as CloseDrive.
    ~CDiscPilot();

    // Closes any open drive, then opens the drive behind a letter: identifies it, reads the TOC, the
    // capabilities and the stored read condition. True with the drive open when it holds at least one
    // track and the disc reports audio tracks; false (closed) for a letter that is no CD drive, an
    // unreadable TOC or a data-only disc. Blocks on the drive (a drive spinning up: several seconds).
    bool SetDrive(unsigned char letter);
    // Stops any read (blocking until the reader thread ended) and a drive check this object started
    // (blocking until it wound down), and closes the drive. Safe when closed.
    void CloseDrive();
    bool IsOpenDrive() const;
    // The number of tracks (the last track number of the TOC); false when no drive is open.
    bool GetTrackNum(unsigned long& count);
    // Writes 0, then the track's length in ms (data tracks too); false when closed or for track 0 or a
    // track above the count.
    bool GetTrackLength(unsigned long track, unsigned long& ms);
    // Starts a continuous read from `ms` into `track` to the end of the last track, replacing any running
    // read; false only when no drive is open (a range that cannot be set up delivers nothing).
    bool SetPosition(unsigned long track, unsigned long ms);
    // Copies up to `bytes` bytes of PCM, blocking until read; bytes not delivered (end of the range, a read
    // that failed) are left untouched. De-emphasised where the track is flagged with pre-emphasis. False
    // only when no drive is open.
    bool GetData(unsigned char* buffer, unsigned long bytes);

    // Open the volume of a letter (a CD drive for reading, a drive of removable media for reading and
    // writing), lock it (up to 20 × 500 ms), dismount, allow removal, then eject or load the tray. 0 when
    // the volume cannot be opened, or when it was locked and the drive then refused a step (the kernel
    // keeps the tray shut while another program has the drive open); else 1 once it is closed again (a
    // lock never obtained stops the sequence without an answer).
    int EjectVolume(unsigned char letter);
    int InsertVolume(unsigned char letter);
    // Always 0.
    int IsVolumeEjected(unsigned char letter);
    // 1 when the disc in the drive holds audio tracks (audio only or mixed with data).
    int IsAudioCDInserted(unsigned char letter);

    // Starts the drive check of the open drive on a thread of its own: 1 when it runs; 0 when no drive is
    // open, a check already runs on this drive, or the pre-check failed (no audio track, less free space
    // in the temporary folder than the check track takes); the result is then CheckDriveFailed. The check
    // reads the disc: no playback may run on the drive meanwhile.
    int CheckDrive();
    // E_FAIL when no check was started here or no drive is open; else asks the check to stop (no wait), 0.
    long StopDriveCheck();
    // 1 when a read condition is stored for the open drive's model; 0 otherwise or when closed.
    int IsDriveChecked() const;
    // E_FAIL when no check was started or no drive is open (or the check was stopped); else writes −1
    // after a failed check, or the percentage (99 until the check finished and its result is in place),
    // and returns 0. Any thread.
    long GetDriveCheckProgress(int& percent) const;
    CheckDriveResult GetDriveCheckError() const;
    // The check thread's entry (argument: the controller).
    static unsigned CheckThreadProc(void* controller);

    // How the drive check tells the user that its temporary file failed: the program supplies it (a
    // window shows a message box, the command line prints it). text and caption are UTF-8; called on the
    // check's thread. Null drops the message. Process-wide; any thread.
    using MessageBoxHandler = void (*)(void* context, const char* text, const char* caption);
    static void SetMessageBoxHandler(MessageBoxHandler handler, void* context);

    // Read-only views for diagnostic tools: what the library makes of a drive letter, the open drive's
    // table of contents, the running read's counts and the last check's findings (DiscPilotDiagnostics.h).
    // A member of the controller so that the library exports nothing beside it.
    class Diagnostics;

private:
    // A volume handle: null is the invalid handle.
    using VolumeHandle = void*;

    VolumeHandle OpenVolume(unsigned char letter);
    int CloseVolume(VolumeHandle volume);
    int LockVolume(VolumeHandle volume);
    int DismountVolume(VolumeHandle volume);
    int PreventRemovalOfVolume(VolumeHandle volume, int prevent);
    int AutoEjectVolume(VolumeHandle volume);
    int AutoInsertVolume(VolumeHandle volume);
    int IsAudioCD(VolumeHandle volume);

    // The media control interface of the other platform does not exist here: OpenMciDevice answers 0 (no
    // device) and the others the "unsupported function" error (274).
    unsigned OpenMciDevice(unsigned char letter);
    unsigned long CloseMciDevice(unsigned id);
    unsigned long EjectTrayMci(unsigned id);
    unsigned long InsertTrayMci(unsigned id);

    int PreDriveCheck();

    discpilot::cddaCReaderHolder* reader_;
    unsigned trackCount_;
    CheckDriveResult checkResult_;
    int stopRequested_;
    int checkStarted_;
};
