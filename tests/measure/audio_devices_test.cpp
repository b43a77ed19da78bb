// The device list of the C interface, on a machine whose JACK server (if
// any) is not the one asked for: whatever cards ALSA finds, nothing through
// JACK, and never a server started.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>

#include "tavrix_measure.h"

namespace tavrix::test {
namespace {

TEST(AudioDevices, ListWithoutAServer) {
  EXPECT_EQ(tvm_audio_devices(nullptr), TVM_BAD_ARGUMENT);
  EXPECT_NE(std::string(tvm_last_error()).find("device list"), std::string::npos);
  tvm_free_audio_devices(nullptr);

  setenv("JACK_DEFAULT_SERVER", ("tavrix-nobody-" + std::to_string(getpid())).c_str(), 1);
  tvm_audio_device_list* list = nullptr;
  ASSERT_EQ(tvm_audio_devices(&list), TVM_OK) << tvm_last_error();
  ASSERT_NE(list, nullptr);
  std::set<int32_t> indices;
  for (int32_t i = 0; i < list->count; ++i) {
    const tvm_audio_device& d = list->devices[i];
    EXPECT_FALSE(d.jack) << d.name;
    EXPECT_TRUE(d.name && d.host_api);
    EXPECT_GE(d.inputs, 0);
    EXPECT_GE(d.outputs, 0);
    EXPECT_TRUE(indices.insert(d.index).second);
  }
  tvm_free_audio_devices(list);
  unsetenv("JACK_DEFAULT_SERVER");
}

TEST(AudioDevices, FailureValuesHaveWords) {
  std::set<std::string> texts;
  for (int32_t code : {TVM_AUDIO_DEVICE, TVM_AUDIO_STREAM, TVM_NO_SIGNAL, TVM_CLIPPED}) {
    const std::string text = tvm_error_text(code);
    EXPECT_NE(text, tvm_error_text(12345));
    EXPECT_TRUE(texts.insert(text).second) << text;
  }
}

}  // namespace
}  // namespace tavrix::test
