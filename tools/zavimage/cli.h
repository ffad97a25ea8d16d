// The commands of the zavimage tool. Each takes argv from its own name on and returns an exit
// status; --help prints its usage with an example.
#pragma once

#include "tools/zavimage/args.h"

namespace zavtool {

int RunAnnotate(int argc, char **argv);
int RunConvert(int argc, char **argv);
int RunInfo(int argc, char **argv);
int RunResize(int argc, char **argv);
int RunFlip(int argc, char **argv);
int RunCopy(int argc, char **argv);
int RunText(int argc, char **argv);
int RunBox(int argc, char **argv);
int RunJobFile(int argc, char **argv);
int RunDemo(int argc, char **argv);

}  // namespace zavtool
