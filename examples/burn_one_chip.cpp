// Burns one chip from a program of your own: burn_one_chip IMAGE DEVICE [LOADER]
#include <iostream>
#include <memory>

#include <tarvok/tarvok.h>

// Prints the progress of each stage as it comes.
class PrintProgress : public tarvok::BurnProgressSink {
  void OnStageProgress(tarvok::BurnStage stage, uint8_t percent, uint32_t, uint32_t) override {
    std::cout << (stage == tarvok::BurnStage::kLoader ? "loader " : "image ") << int{percent}
              << "%\n";
  }
};

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: burn_one_chip IMAGE DEVICE [LOADER]\n";
    return 2;
  }
  tarvok::BurnRequest request;
  request.portName = request.devicePath = argv[2];  // "/dev/ttyUSB0", "\\.\COM5"
  request.line.burnRate = 460800;                   // boot ROM at 9600, 8N1: the defaults
  auto image = std::make_shared<tarvok::FlashImage>();
  if (const auto problem = tarvok::ReadImage(argv[1], tarvok::ImageReadOptions{}, *image)) {
    std::cerr << "image " << argv[1] << " " << tarvok::ImageProblemText(problem) << "\n";
    return 2;
  }
  request.image = image;
  if (argc > 3) {  // a real board's own RAM loader; without it, the one built in
    auto loader = std::make_shared<std::vector<uint8_t>>();
    if (const std::string problem = tarvok::ReadLoaderFile(argv[3], *loader); !problem.empty()) {
      std::cerr << "loader " << argv[3] << " " << problem << "\n";
      return 2;
    }
    request.loader = loader;
  }
  PrintProgress progress;
  const tarvok::BurnOutcome outcome = tarvok::Burn(request, progress);
  std::cout << outcome.summary << "\n" << outcome.explanation << "\n";
  return outcome.Succeeded() ? 0 : 1;
}
