/* The floor of this design: the least a program can do that, like
   loadfile, binds a library at load time and calls into it once. */
int FloorEntry(void);

int main(void) {
  return FloorEntry();
}
