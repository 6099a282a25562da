#include "CodeTableWindow.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace calvora::testing {

CodeTableWindow::CodeTableWindow(platform::Desktop& desktop, platform::Timers& timers, int16_t pid)
    : desktop_(desktop), channel_(std::make_unique<link::TWinMSG>(desktop, timers)), pid_(pid) {
  desktop_.SetMessageHandler([this](const platform::IncomingMessage& m) {
    if (hangMs_ > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(hangMs_));
    if (m.message != link::WM_WINMSG)
      return 0;
    link::TMessage message{m.message, m.wParam, m.lParam, 0};
    uint16_t code = 0;
    uint16_t argument = 0;
    link::TWinMSG::DecodeCommand(m.lParam, code, argument);
    if (code == link::WINMSG_CONTROL && argument == link::CTRL_HELLO && onHello)
      onHello(m.wParam);
    if (channel_->HandleControl(message, code, argument) && argument == link::CTRL_IDENTIFY)
      message.Result = pid_;
    if (onEvent)
      onEvent("received " + std::to_string(m.wParam) + " " + std::to_string(code) + " " +
              std::to_string(argument));
    return message.Result;
  });
  desktop_.SetDataHandler([this](const platform::IncomingData& d) {
    if (hangMs_ > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(hangMs_));
    std::string line = "data " + std::to_string(d.wParam) + " " + std::to_string(d.kind) + " " +
                       std::to_string(d.bytes.size());
    if (const auto header = link::AudioBlockHeader::Read(d.bytes)) {
      char fields[128];
      std::snprintf(fields, sizeof fields, " %d %u %u %.3f %.3f", header->SampleRate,
                    static_cast<unsigned>(header->Channels),
                    static_cast<unsigned>(header->BitsPerSample), header->LeftLevel,
                    header->RightLevel);
      line += fields;
      bool intact = true;
      for (std::size_t i = link::AudioBlockHeader::kSize; i < d.bytes.size(); ++i)
        intact = intact && d.bytes[i] == static_cast<uint8_t>(i - link::AudioBlockHeader::kSize);
      line += intact ? " intact" : " damaged";
    }
    if (onEvent)
      onEvent(line);
    return 0;
  });
}

CodeTableWindow::~CodeTableWindow() {
  desktop_.SetMessageHandler(nullptr);
  desktop_.SetDataHandler(nullptr);
}

std::vector<uint8_t> CodeTableWindow::AudioPacket(std::size_t sampleBytes) {
  link::AudioBlockHeader header;
  header.SampleRate = 48000;
  header.LeftLevel = -6.5;
  header.RightLevel = -7.25;
  std::vector<uint8_t> samples(sampleBytes);
  for (std::size_t i = 0; i < sampleBytes; ++i)
    samples[i] = static_cast<uint8_t>(i);
  return header.Pack(samples);
}

}  // namespace calvora::testing
