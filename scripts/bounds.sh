# Sourced by scripts/test.sh and .ci/run: the time bounds, in seconds, of their steps. The test
# command's own bound is the sum of the bounds of the steps inside it and a minute, so that a step
# that overruns is ended by its own bound, and named, before the whole command is.
BOUND_INSTALL=1500
BOUND_BUILD=1800
BOUND_PREFIX=300
BOUND_CTEST=1500
BOUND_TEARDOWN=120
BOUND_PACKAGE=1800
BOUND_TEST_COMMAND=$((BOUND_INSTALL + BOUND_BUILD + BOUND_PREFIX + BOUND_CTEST + BOUND_TEARDOWN + 60))
