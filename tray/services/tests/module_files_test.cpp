// The running module version as the loader block tells it, over a block this test makes.
#include "tray/services/module_files.h"

#include <gtest/gtest.h>

#include <cstring>

#include "os/shared_memory.h"
#include "os/thread.h"
#include "shared/loader_block.h"

namespace ks::tray {
namespace {

TEST(LoadedModuleVersion, ReadsTheTypesRecordAndNothingElse) {
  const std::string name = "Local\\KestruneLoaderProbe-" + std::to_string(current_process_id());
  EXPECT_EQ(loaded_module_version(name, "wing"), "") << "no block";

  SharedMemory m;
  ASSERT_TRUE(m.create(name, kLoaderBlockSize));
  auto* b = static_cast<LoaderBlock*>(m.data());
  b->size = kLoaderBlockSize;
  std::strcpy(b->types[0].type_name, "wing");
  std::strcpy(b->types[0].running_version, "3.3.0");
  std::strcpy(b->types[1].type_name, "x32");
  // A version that fills its field without an end: read up to the field's end, never past it.
  std::memset(b->types[1].running_version, '7', sizeof b->types[1].running_version);
  EXPECT_EQ(loaded_module_version(name, "wing"), "") << "no magic yet";

  b->magic = kLoaderMagic;
  EXPECT_EQ(loaded_module_version(name, "wing"), "3.3.0");
  EXPECT_EQ(loaded_module_version(name, "x32"),
            std::string(sizeof b->types[1].running_version - 1, '7'));
  EXPECT_EQ(loaded_module_version(name, "win"), "") << "a type is matched whole";
  EXPECT_EQ(loaded_module_version(name, "m32"), "");
}

}  // namespace
}  // namespace ks::tray
