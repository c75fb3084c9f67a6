#include "binary/of_weight_stats.h"

#include "zvfec/codec_session.h"

bool of_weight_stats_init(of_weight_stats *s, int slots) {
  s->min = 9999999;
  s->max = 0;
  s->total = 0;
  s->slots = slots;
  s->hist = static_cast<int *>(of_calloc(static_cast<size_t>(slots), sizeof(int)));
  return s->hist != nullptr;
}

void of_weight_stats_free(of_weight_stats *s) {
  of_free(s->hist);
  s->hist = nullptr;
}

void of_weight_stats_add(of_weight_stats *s, int weight) {
  if (weight < s->min) s->min = weight;
  if (weight > s->max) s->max = weight;
  s->total += weight;
  if (weight >= 0 && weight < s->slots) ++s->hist[weight];
}

void of_weight_stats_print(FILE *f, const of_weight_stats *s, const char *min_fmt,
                           const char *max_fmt, const char *hist_fmt, bool every_weight) {
  std::fprintf(f, min_fmt, s->min);
  std::fprintf(f, max_fmt, s->max);
  const int from = every_weight ? s->min : 0;
  const int to = every_weight ? s->max : s->slots - 1;
  for (int w = from < 0 ? 0 : from; w <= to && w < s->slots; ++w) {
    if (every_weight || s->hist[w] > 0) std::fprintf(f, hist_fmt, w, s->hist[w]);
  }
}

double of_print_row_col_stats(FILE *f, int32_t n_rows, int32_t n_cols, const of_weight_stats *rows,
                              const of_weight_stats *cols) {
  const double aver_row = static_cast<double>(rows->total) / n_rows;
  const double aver_col = static_cast<double>(cols->total) / n_cols;
  const double col_density = aver_col / n_rows;
  std::fprintf(f, " nb_col=%d  nb_row=%d \n", n_cols, n_rows);
  std::fprintf(f, " row_density=%f \n", aver_row / n_cols);
  std::fprintf(f, " aver_nb_entry_per_row=%f \n", aver_row);
  of_weight_stats_print(f, rows, " min_entry_per_row=%d \n", " max_entry_per_row=%d \n",
                        " nb_entry_row[%d]=%d \n", true);
  std::fprintf(f, "------------------ \n");
  std::fprintf(f, " col_density=%f \n", col_density);
  std::fprintf(f, " aver_nb_entry_per_col=%f \n", aver_col);
  of_weight_stats_print(f, cols, " min_entry_per_col=%d \n", " max_entry_per_col=%d \n",
                        " nb_entry_col[%d]=%d \n", false);
  return col_density;
}
