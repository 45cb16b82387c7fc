#include "tests/support/replaceable_passes.h"

#include <atomic>

#include "device/passes.h"
#include "requests/worker_passes.h"

namespace tovi {
namespace {

std::atomic<testing::PassFunction> input_pass_override{nullptr};
std::atomic<testing::PassFunction> output_pass_override{nullptr};

}  // namespace

void RunInputPass(DriverInstance& driver) {
    const testing::PassFunction pass = input_pass_override.load();
    pass != nullptr ? pass(driver) : InputPass(driver);
}

void RunOutputPass(DriverInstance& driver) {
    const testing::PassFunction pass = output_pass_override.load();
    pass != nullptr ? pass(driver) : OutputPass(driver);
}

void testing::ReplacePasses(PassFunction input_pass, PassFunction output_pass) {
    input_pass_override.store(input_pass);
    output_pass_override.store(output_pass);
}

}  // namespace tovi
