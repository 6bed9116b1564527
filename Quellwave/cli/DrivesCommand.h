// "quellwave-cli drives": the drive letters this machine has, one line each.
#pragma once

namespace cli {

// argc/argv are the arguments after the word "drives". Prints, for every mapped letter in order,
//   L:<TAB>device<TAB>type<TAB>vendor<TAB>product<TAB>revision<TAB>
//     transport<TAB>ha=N<TAB>target=N<TAB>vendor<TAB>product<TAB>revision<TAB>readmode=0xNNNNNN
// The first vendor, product and revision are what INQUIRY reports; the rest is what DiscPilot makes of
// the letter: the transport its "Cdrom_Mode" setting chose ("aspi" or "raw"), the host adapter and
// target, the identity as that transport identified it, and the read mode the vendor table gives.
// Texts have trailing spaces removed; "-" for letters that are not CD drives, "?" when the drive could
// not be asked, with the reason on standard error. Blocks while drives are opened and asked.
// Returns 0, 1 when some CD drive could not be identified, 2 for wrong arguments.
int RunDrives(int argc, char** argv);

} // namespace cli
