// Images without columns or rows, which the BMP format and the reader allow:
// the merge engine must stay inside them, whichever algorithm and whichever
// implementation runs. The programs refuse such series before merging;
// this is the engine's own guarantee.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "ipl/bmp_file_builder.h"
#include "ipl/ipl_exception.h"
#include "merge/merger.h"
#include "scratch_folder.h"
#include "test_util.h"

TEST(Merger, ImagesWithoutColumnsOrRowsMergeIntoEmptyImages) {
  const testutil::ScratchFolder folder;
  struct Size {
    int width;
    int height;
  };
  for (const Size size : {Size{0, 6}, Size{6, 0}, Size{0, 0}}) {
    bmptest::BmpFile file;
    file.width = size.width;
    file.height = size.height;
    file.palette = bmptest::greyRamp(256);
    const std::string path = folder.file("empty.bmp");
    std::ofstream(path, std::ios::binary) << file.bytes();
    const std::vector<std::string> paths = {path, path, path};
    for (const auto implementation :
         {lumifold::Merger::Implementation::Fast, lumifold::Merger::Implementation::Straightforward}) {
      SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height) +
                   (implementation == lumifold::Merger::Implementation::Fast ? ", fast" : ", straightforward"));
      lumifold::Merger merger(paths);
      merger.setImplementation(implementation);
      if (size.height < 2) {
        EXPECT_EQ(testutil::messageOf<velIPL::IPLException>([&] { merger.mergeByCorrelation(); }),
                  "Image must have at least 2 rows");
      } else {
        const velIPL::GImage merged = merger.mergeByCorrelation();
        EXPECT_EQ(merged.width(), size.width);
        EXPECT_EQ(merged.height(), size.height);
      }
      const velIPL::GImage edge = merger.mergeByAnteriorEdge();
      EXPECT_EQ(edge.width(), size.width);
      EXPECT_EQ(edge.height(), size.height);
    }
  }
}
