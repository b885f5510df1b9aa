// A board with its buses on a fake system-call table, for the I2C, serial,
// CAN and UDP tests: the program is loaded, its hardware bound and its
// globals initialised as the driver does, and every system call is recorded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interpreterLib/buffer.h"
#include "interpreterLib/run_control.h"
#include "tests/support/fake_syscalls.h"
#include "tests/support/interp_fixture.h"
#include "zebu_interpreter/boards/raspberry/raspberry.h"

namespace kova_test {

using Calls = std::vector<std::string>;
using Cells = std::vector<uint64_t>;

struct BusTest : InterpFixture {
  std::unique_ptr<FakeSysCalls> fake = std::make_unique<FakeSysCalls>();
  Calls bound;  // the calls binding made

  void TearDown() override { board_exit(env.get(), 0, 0); }

  // Closes the ports, then a new program, environment and fake: the next row
  // of a table.
  void restart(ProgramBuilder builder = ProgramBuilder()) {
    board_exit(env.get(), 0, 0);
    b = std::move(builder);
    env = interp_create();
    fake.reset();
    fake = std::make_unique<FakeSysCalls>();
  }
  // Binds and initialises; returns what binding printed.
  std::string start() {
    board_init(env.get());
    load();
    StdoutCapture out;
    board_variable_setup(env.get());
    const std::string printed = out.text();
    interp_init(env.get());
    if (fake) bound = fake->take();
    return printed;
  }
  // One synchronisation; returns what it printed.
  std::string sync() {
    StdoutCapture out;
    board_syncio(env.get());
    return out.text();
  }
  void push(uint32_t channel, Cells element) {
    element.resize(buffer_getCellStorageSize(env.get(), global(channel)));
    std::vector<ValueCell> cells(element.size());
    for (size_t i = 0; i < element.size(); ++i) cells[i].u64 = element[i];
    channel_push(env.get(), nullptr, global(channel), cells.data());
  }
  // Each element's cells, oldest first.
  std::vector<Cells> contents(uint32_t channel) {
    std::vector<Cells> elements;
    const uint32_t width = buffer_getCellStorageSize(env.get(), global(channel));
    for (uint32_t i = 0; i < channel_count(env.get(), global(channel)); ++i) {
      const ValueCell* cell = buffer_getIndexValue(env.get(), global(channel), i).value;
      elements.emplace_back();
      for (uint32_t k = 0; k < width; ++k) elements.back().push_back(cell[k].u64);
    }
    return elements;
  }
  // The first cell of each element, oldest first.
  Cells firstCells(uint32_t channel) {
    Cells firsts;
    for (const Cells& element : contents(channel)) firsts.push_back(element[0]);
    return firsts;
  }

  // A queue of CAN frames.
  uint32_t frames(uint32_t capacity) {
    const uint32_t frame = b.structType(
        "Can_Frame",
        {{"identifier", TypeUInt32}, {"dlc", TypeUInt8}, {"data", b.arrayType(TypeUInt8, 8)}});
    return b.queueType(frame, capacity);
  }
  // A queue of UDP messages with `payload` payload cells (the builder made
  // with udpTypes).
  uint32_t messages(uint32_t payload, uint32_t capacity = 4) {
    const uint32_t message = b.structType("Message" + std::to_string(payload),
                                          {{"address", b.arrayType(TypeUInt8, 4)},
                                           {"length", TypeUInt16},
                                           {"payload", b.arrayType(TypeUInt8, payload)}});
    return b.queueType(message, capacity);
  }
  // The UDP hardware annotation of `var`: a port, then optionally a group.
  void annotate(uint32_t var, std::optional<uint32_t> port, const char* direction,
                std::optional<uint32_t> group = {}) {
    const uint32_t udp = b.typeId("UDP"), udpGroup = b.typeId("UDP_Group");
    std::vector<N> declarations, statements;
    if (port) {
      declarations.push_back(b.varDecl(udp, "port"));
      statements.push_back(b.assign(b.field(b.local(0), udp, "port"), b.integer(*port)));
      statements.push_back(b.assign(b.field(b.local(0), udp, "direction"),
                                    b.enumLit(b.typeId("Hw_Direction"), direction)));
    }
    if (group) {
      const uint32_t local = static_cast<uint32_t>(declarations.size());
      declarations.push_back(b.varDecl(udpGroup, "group"));
      statements.push_back(
          b.assign(b.field(b.local(local), udpGroup, "address"), b.integer(*group)));
    }
    b.hardwareAnnotation(var, declarations, statements);
  }
};

}  // namespace kova_test
