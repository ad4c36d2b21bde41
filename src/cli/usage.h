#pragma once

// Prints the usage block: the options with their defaults and three examples.
void print_usage();
