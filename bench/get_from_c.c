/*
 * One get from C, for the Python package's benchmark (python_get_bench.py):
 * times HyxuserUptime_GetUptime in a loop and prints the median of its
 * rounds, in nanoseconds per call.
 *   get_from_c [CALLS_PER_ROUND] [ROUNDS]      (inside hyxsim)
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "hyxuser/hyxuser.h"

static double NowNs(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

static int Compare(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return (x > y) - (x < y);
}

int main(int argc, char **argv) {
  long calls = argc > 1 ? atol(argv[1]) : 20000;
  int rounds = argc > 2 ? atoi(argv[2]) : 5;
  if (calls < 1 || rounds < 1 || rounds > 100) {
    fprintf(stderr, "usage: get_from_c [CALLS_PER_ROUND] [ROUNDS (1 to 100)]\n");
    return 2;
  }
  double perCall[100];
  uint64_t uptime = 0;
  for (int r = 0; r < rounds; r++) {
    double start = NowNs();
    for (long i = 0; i < calls; i++) {
      if (HyxuserUptime_GetUptime(&uptime) != HYX_OK) {
        fprintf(stderr, "get_from_c: the get failed\n");
        return 1;
      }
    }
    perCall[r] = (NowNs() - start) / (double)calls;
  }
  qsort(perCall, (size_t)rounds, sizeof perCall[0], Compare);
  printf("%.1f\n", perCall[rounds / 2]);
  return 0;
}
