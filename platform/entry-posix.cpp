#include "entry.h"

int main(int argc, char** argv) {
  return LoadfileMain(argc, argv);
}
