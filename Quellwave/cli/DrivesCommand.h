// "quellwave-cli drives": the drive letters this machine has, one line each.
#pragma once

// argc/argv are the arguments after the word "drives". Prints, for every mapped letter in order,
//   L:<TAB>device<TAB>type<TAB>vendor<TAB>product<TAB>revision
// (vendor, product and revision as INQUIRY reports them, trailing spaces removed; "-" for letters that
// are not CD drives, "?" when the drive could not be asked, with the reason on standard error).
// Returns 0, 1 when some CD drive could not be identified, 2 for wrong arguments.
int RunDrives(int argc, char** argv);
