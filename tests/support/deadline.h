// The one bound of every wait of the tests and benchmarks for a state (a
// window mapped, a frame drawn, a process ended), in seconds. A wait ends as
// soon as its state is there, so only a fault ever waits this long, whatever
// the machine's load. The Python (ostrevane_support.py) and shell
// (conformance_lib.sh) helpers read it from here.
#ifndef OSTREVANE_TESTS_SUPPORT_DEADLINE_H
#define OSTREVANE_TESTS_SUPPORT_DEADLINE_H

#define OSTREVANE_TEST_DEADLINE_SECONDS 60

#endif  // OSTREVANE_TESTS_SUPPORT_DEADLINE_H
