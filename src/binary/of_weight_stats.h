// Row and column weight statistics shared by the sparse and dense printers.
#pragma once

#include <cstdint>
#include <cstdio>

// Extremes, total and histogram of a set of weights; weights beyond the
// histogram's slots count in the extremes and the total only.
struct of_weight_stats {
  int min;
  int max;
  long long total;
  int slots;
  int *hist;
};

// Starts an empty set with `slots` histogram slots; false when memory is short.
bool of_weight_stats_init(of_weight_stats *s, int slots);
void of_weight_stats_free(of_weight_stats *s);
void of_weight_stats_add(of_weight_stats *s, int weight);

// The min and max lines, then one histogram line per weight: every weight from
// min to max when every_weight is set, else each weight that occurs.
void of_weight_stats_print(FILE *f, const of_weight_stats *s, const char *min_fmt,
                           const char *max_fmt, const char *hist_fmt, bool every_weight);

// The common part of the matrix statistics, from the size line to the column
// histogram. Returns the column density, which is also the matrix density.
double of_print_row_col_stats(FILE *f, int32_t n_rows, int32_t n_cols, const of_weight_stats *rows,
                              const of_weight_stats *cols);
