#include "app/entry.h"
#include "platform/environment.h"

int main(int argc, char** argv) { return qv::platform::exit_status(qv::run_program(argc, argv)); }
