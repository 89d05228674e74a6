#include "cli/app.hpp"

int main(int argc, char** argv) { return quarn::cli::run(argc, argv); }
