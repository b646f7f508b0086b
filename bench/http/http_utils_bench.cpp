#include <benchmark/benchmark.h>

#include <tolvane/http/http_utils.h>
#include "support/bench_web_objects.h"

using namespace tolvane;

namespace {

void BM_HTTPDecode(benchmark::State& State) {
  const std::string query = "q=caf%C3%A9+au+lait&lang=fr-FR&page=3&sort=price%3Aasc&filter=%5Bnew%5D";
  for (auto _ : State) benchmark::DoNotOptimize(HTTPDecode(query));
  State.SetBytesProcessed(std::int64_t(State.iterations() * query.size()));
}
BENCHMARK(BM_HTTPDecode);

void BM_ExtractHTTPFieldsQuery(benchmark::State& State) {
  const std::string query =
      "user=jdoe&session=8f14e45fceea167a5a36dedd4bea2543&q=caf%C3%A9+au+lait&lang=fr-FR&page=3"
      "&sort=price%3Aasc&utm_source=newsletter&utm_medium=email";
  for (auto _ : State) {
    TStringList fields;
    ExtractHTTPFields("&", {}, query, fields);
    benchmark::DoNotOptimize(fields.Count());
  }
  State.SetBytesProcessed(std::int64_t(State.iterations() * query.size()));
}
BENCHMARK(BM_ExtractHTTPFieldsQuery);

void BM_ParseDate(benchmark::State& State) {
  const String forms[] = {u"Sun, 06 Nov 1994 08:49:37 GMT", u"Sunday, 06-Nov-94 08:49:37 GMT",
                          u"Sun Nov  6 08:49:37 1994"};
  const String& text = forms[State.range(0)];
  for (auto _ : State) benchmark::DoNotOptimize(ParseDate(text));
}
BENCHMARK(BM_ParseDate)->DenseRange(0, 2);

// N distinct names, as an application setting many headers or cookies has.
TStringList NamedValues(int Count) {
  TStringList values;
  for (int i = 0; i < Count; ++i) values.Add(u"X-Field-" + IntToStr(i) + u"=value " + IntToStr(i));
  return values;
}

// Writing the custom header lines: one pass over the list, whatever its size.
void BM_AddCustomHeaders(benchmark::State& State) {
  bench::TBenchRequest request("GET", "/");
  bench::TBenchResponse response(&request);
  response.SetCustomHeaders(NamedValues(int(State.range(0))));
  for (auto _ : State) {
    String headers;
    response.AddCustomHeaders(headers);
    benchmark::DoNotOptimize(headers.data());
  }
  State.SetComplexityN(State.range(0));
}
BENCHMARK(BM_AddCustomHeaders)->RangeMultiplier(4)->Range(4, 4096)->Complexity();

void BM_SetCookieField(benchmark::State& State) {
  bench::TBenchRequest request("GET", "/");
  const TStringList values = NamedValues(int(State.range(0)));
  for (auto _ : State) {
    bench::TBenchResponse response(&request);
    response.SetCookieField(values, "example.org", "/", -1.0, false);
    benchmark::DoNotOptimize(response.Cookies().Count());
  }
  State.SetComplexityN(State.range(0));
}
BENCHMARK(BM_SetCookieField)->RangeMultiplier(4)->Range(4, 4096)->Complexity();

}  // namespace
