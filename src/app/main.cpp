#include "app/entry.h"

int main(int argc, char** argv) { return qv::run_program(argc, argv); }
