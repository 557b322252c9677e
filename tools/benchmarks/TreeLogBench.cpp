// What the OPC server's address space and log cost: finding a node by path
// in a tree of 10,000 nodes, the first time (the path index is built) and
// after, and writing a line to a log without a file and with one.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "tests/TestFolder.h"
#include "toolkit/PsClasses.h"

namespace {

// 100 modules of 99 variables each under their own names: 10,000 nodes.
toolkit::TPsStringTree& LargeTree() {
  static toolkit::TPsStringTree tree;
  if (tree.Count() == 0) {
    for (int module = 0; module < 100; ++module) {
      const int parent = tree.AddChild(-1, "Module" + std::to_string(module));
      for (int variable = 0; variable < 99; ++variable)
        tree.AddChild(parent, "Variable" + std::to_string(variable));
    }
  }
  return tree;
}

void BM_IndexOfPathFirst(benchmark::State& state) {
  toolkit::TPsStringTree& tree = LargeTree();
  for (auto _ : state) {
    // A new separator drops the index; the lookup builds it again.
    tree.SetPathSeparator(tree.PathSeparator() == '/' ? '.' : '/');
    benchmark::DoNotOptimize(tree.IndexOfPath("module50/variable98"));
  }
  tree.SetPathSeparator('/');
  state.counters["nodes"] = tree.Count();
}
BENCHMARK(BM_IndexOfPathFirst)->Unit(benchmark::kMillisecond);

void BM_IndexOfPathLater(benchmark::State& state) {
  toolkit::TPsStringTree& tree = LargeTree();
  tree.IndexOfPath("");
  int i = 0;
  const std::string paths[] = {"Module50/Variable98", "module7/VARIABLE3", "Module99",
                               "Module1/Missing"};
  for (auto _ : state)
    benchmark::DoNotOptimize(tree.IndexOfPath(paths[i++ & 3]));
}
BENCHMARK(BM_IndexOfPathLater);

void BM_LogAddLine(benchmark::State& state) {
  toolkit::TPsLog log;
  log.Active = true;
  const std::string message = "IOPCItemMgt.AddItems(1 Items [Korva/Status]): Result=$0";
  for (auto _ : state)
    benchmark::DoNotOptimize(log.AddLine(message));
}
BENCHMARK(BM_LogAddLine);

// A line into a log that mirrors its 100 lines to a file, named directly
// (arg 0) or through a symbolic link to it (arg 1): the whole file is
// replaced each time, where the link leads.
void BM_LogAddLineToFile(benchmark::State& state) {
  const korva_test::TestFolder folder;
  std::string name = folder.File("opc.log");
  if (state.range(0) == 1) {
    std::filesystem::create_symlink(name, folder.File("link.log"));
    name = folder.File("link.log");
  }
  toolkit::TPsLog log;
  log.Active = true;
  log.SetFileName(name);
  const std::string message = "IOPCItemMgt.AddItems(1 Items [Korva/Status]): Result=$0";
  for (auto _ : state)
    benchmark::DoNotOptimize(log.AddLine(message));
}
BENCHMARK(BM_LogAddLineToFile)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
