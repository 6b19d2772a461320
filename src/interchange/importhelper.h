// The entry of the import's helper program (tools/morv3d-import): it reads the request from its
// arguments, imports under the limits the request sets, and writes the answer to stdout.
#pragma once

int ImportHelperMain(int argc, char** argv);
