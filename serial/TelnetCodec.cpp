#include "serial/TelnetCodec.h"

namespace tarvok {

void AppendTelnetData(std::vector<uint8_t>& out, const uint8_t* data, size_t length) {
  for (size_t k = 0; k < length; ++k) {
    out.push_back(data[k]);
    if (data[k] == kTelnetIac) {
      out.push_back(kTelnetIac);
    }
  }
}

void AppendTelnetCommand(std::vector<uint8_t>& out, uint8_t verb, uint8_t option) {
  out.insert(out.end(), {kTelnetIac, verb, option});
}

void AppendComPortCommand(std::vector<uint8_t>& out, ComPortCommand command,
                          const std::vector<uint8_t>& value) {
  out.insert(out.end(), {kTelnetIac, kTelnetSb, kOptionComPort, static_cast<uint8_t>(command)});
  AppendTelnetData(out, value.data(), value.size());
  out.insert(out.end(), {kTelnetIac, kTelnetSe});
}

bool TelnetParser::FeedSubnegotiation(uint8_t b, TelnetSink& sink) {
  const auto collect = [this](uint8_t byte) {
    if (payload_.size() < kMaxPayload) {
      payload_.push_back(byte);
    } else {
      subTooLong_ = true;
    }
  };
  if (state_ == State::kSub) {
    if (b == kTelnetIac) {
      state_ = State::kSubIac;
    } else {
      collect(b);
    }
    return true;
  }
  if (b == kTelnetIac) {
    collect(b);
    state_ = State::kSub;
  } else if (b == kTelnetSe) {
    if (!subTooLong_) {
      sink.OnSubnegotiation(subOption_, payload_);
    }
    state_ = State::kData;
  } else {
    // A command inside an unfinished subnegotiation: the subnegotiation is dropped and the
    // command taken as it stands.
    state_ = State::kIac;
    return false;
  }
  return true;
}

void TelnetParser::Feed(const uint8_t* bytes, size_t length, TelnetSink& sink) {
  size_t runStart = 0;  // the start of the data bytes not handed on yet
  const auto flushRun = [&](size_t end) {
    if (end > runStart) {
      sink.OnData(bytes + runStart, end - runStart);
    }
  };
  for (size_t k = 0; k < length; ++k) {
    const uint8_t b = bytes[k];
    switch (state_) {
      case State::kData:
        if (b == kTelnetIac) {
          flushRun(k);
          state_ = State::kIac;
        }
        continue;  // a data byte stays in the run
      case State::kIac:
        if (b == kTelnetIac) {
          sink.OnData(&b, 1);
          state_ = State::kData;
        } else if (b >= kTelnetWill) {
          verb_ = b;
          state_ = State::kVerb;
        } else if (b == kTelnetSb) {
          state_ = State::kSubOption;
        } else {
          state_ = State::kData;  // NOP, GA and the other two-byte commands mean nothing here
        }
        break;
      case State::kVerb:
        sink.OnNegotiation(verb_, b);
        state_ = State::kData;
        break;
      case State::kSubOption:
        subOption_ = b;
        payload_.clear();
        subTooLong_ = false;
        state_ = State::kSub;
        break;
      case State::kSub:
      case State::kSubIac:
        if (!FeedSubnegotiation(b, sink)) {
          --k;  // taken again as the command it starts
        }
        break;
    }
    runStart = k + 1;
  }
  if (state_ == State::kData) {
    flushRun(length);
  }
}

}  // namespace tarvok
