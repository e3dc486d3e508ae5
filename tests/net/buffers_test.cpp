#include "net/buffers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/component.h"
#include "net/exceptions.h"
#include "support/raised.h"

using testsupport::RaisedMessage;

namespace {

TEST(TIdSimpleBufferTest, TakeAndDropReportRemovals) {
  std::vector<int> removed;
  TIdSimpleBuffer buffer([&](TIdSimpleBuffer*, int count) { removed.push_back(count); });
  buffer.Append("hello world", 11);
  EXPECT_EQ(buffer.TakeBytes(6), "hello ");
  buffer.DropBytes(2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Memory()), buffer.DataSize()), "rld");
  buffer.DropBytes(3);
  EXPECT_EQ(buffer.DataSize(), 0);
  EXPECT_EQ(removed, (std::vector<int>{6, 2, 3}));
}

TEST(TIdSimpleBufferTest, RemovingMoreThanHeldFails) {
  TIdSimpleBuffer buffer;
  buffer.Append("abc", 3);
  EXPECT_EQ(RaisedMessage<EIdNotEnoughDataInBuffer>([&] { buffer.DropBytes(4); }), "Not enough data in buffer.");
  EXPECT_THROW(buffer.TakeBytes(4), EIdNotEnoughDataInBuffer);
  EXPECT_EQ(buffer.DataSize(), 3);
}

TEST(TIdManagedBufferTest, ConsumesByOffsetAndCompactsAt32768) {
  std::vector<int> removed;
  TIdManagedBuffer buffer([&](TIdSimpleBuffer*, int count) { removed.push_back(count); });
  std::string data(40000, 'x');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  buffer.Append(data.data(), static_cast<int64_t>(data.size()));

  const uint8_t* start = buffer.Memory();
  buffer.DropBytes(20000);
  EXPECT_EQ(buffer.ConsumedOffset(), 20000);
  EXPECT_EQ(buffer.Memory(), start + 20000) << "no memory moved below the threshold";
  EXPECT_EQ(buffer.DataSize(), 20000);

  buffer.DropBytes(12767);
  EXPECT_EQ(buffer.ConsumedOffset(), 32767);
  buffer.DropBytes(1);
  EXPECT_EQ(buffer.ConsumedOffset(), 0) << "compacted once 32768 bytes were consumed";
  EXPECT_EQ(buffer.DataSize(), 40000 - 32768);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Memory()), buffer.DataSize()), data.substr(32768));

  // Appending after compaction goes behind the unconsumed bytes.
  buffer.Append("!", 1);
  EXPECT_EQ(buffer.TakeBytes(static_cast<int>(buffer.DataSize())), data.substr(32768) + "!");
  EXPECT_EQ(buffer.ConsumedOffset(), 0) << "removing everything resets the offset";
  EXPECT_EQ(removed, (std::vector<int>{20000, 12767, 1, 40000 - 32768 + 1}));
}

TEST(TIdManagedBufferTest, SeekAndSizeAreRelativeToTheConsumedOffset) {
  TIdManagedBuffer buffer;
  buffer.Append("0123456789", 10);
  buffer.DropBytes(4);
  EXPECT_EQ(buffer.Size(), 6);
  buffer.SetPosition(1);
  char byte = 0;
  EXPECT_EQ(buffer.Read(&byte, 1), 1);
  EXPECT_EQ(byte, '5');
  EXPECT_EQ(buffer.Position(), 2);
  buffer.Clear();
  EXPECT_EQ(buffer.ConsumedOffset(), 0);
  EXPECT_EQ(buffer.DataSize(), 0);
}

struct WorkRecorder {
  std::vector<std::string> events;
  void Attach(TIdComponent& component) {
    component.OnWorkBegin = [this](TIdComponent*, TWorkMode mode, int32_t max) {
      events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    component.OnWork = [this](TIdComponent*, TWorkMode mode, int32_t count) {
      events.push_back("work " + std::to_string(mode) + " " + std::to_string(count));
    };
    component.OnWorkEnd = [this](TIdComponent*, TWorkMode mode) {
      events.push_back("end " + std::to_string(mode));
    };
  }
};

TEST(TIdComponentTest, NestedWorkIsReportedOnceWithARunningTotal) {
  TIdComponent component;
  WorkRecorder recorder;
  recorder.Attach(component);
  component.AddWork(wmRead, 5);  // outside any StartWork: not reported
  component.StartWork(wmRead, 100);
  component.AddWork(wmRead, 10);
  component.StartWork(wmRead, 999);  // nested: no begin, max and total kept
  component.AddWork(wmRead, 20);
  component.StartWork(wmWrite, 7);  // the other mode has its own record
  component.AddWork(wmWrite, 7);
  component.FinishWork(wmWrite);
  component.FinishWork(wmRead);
  component.AddWork(wmRead, 1);
  component.FinishWork(wmRead);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"begin 0 100", "work 0 10", "work 0 30", "begin 1 7",
                                                       "work 1 7", "end 1", "work 0 31", "end 0"}));
}

TEST(TIdComponentTest, StatusTextsAreFormattedOnlyWhenAssigned) {
  TIdComponent component;
  component.ReportStatus(hsResolving, "example");  // unassigned: nothing happens
  std::vector<std::string> texts;
  component.OnStatus = [&](TIdComponent*, TIdStatus, const std::string& text) { texts.push_back(text); };
  component.ReportStatus(hsResolving, "example");
  component.ReportStatus(hsConnecting, "127.0.0.1");
  component.ReportStatus(hsConnected, "example");
  component.ReportStatus(hsDisconnecting);
  component.ReportStatus(hsDisconnected);
  component.ReportStatus(hsStatusText, "Chunk Started");
  EXPECT_EQ(texts, (std::vector<std::string>{"Resolving hostname example.", "Connecting to 127.0.0.1.", "Connected.",
                                             "Disconnecting.", "Disconnected.", "Chunk Started"}));
}

}  // namespace
