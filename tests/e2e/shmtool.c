/* shmtool: reads and writes an existing System V shared-memory segment from
 * inside a simulated device (the token block of the agent).
 *   shmtool size KEY                 prints the segment's size
 *   shmtool read KEY                 prints its bytes as upper-case hex
 *   shmtool write KEY OFFSET TEXT    copies TEXT's bytes to OFFSET
 * Built statically by tests/e2e/run, so it needs nothing from the device. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: shmtool size|read KEY | write KEY OFFSET TEXT\n");
    return 2;
  }
  int id = shmget((key_t)strtol(argv[2], NULL, 0), 0, 0);
  if (id < 0) {
    perror("shmget");
    return 1;
  }
  struct shmid_ds ds;
  if (shmctl(id, IPC_STAT, &ds) != 0) {
    perror("shmctl");
    return 1;
  }
  unsigned char* block = shmat(id, NULL, 0);
  if (block == (void*)-1) {
    perror("shmat");
    return 1;
  }
  size_t size = ds.shm_segsz;
  if (!strcmp(argv[1], "size")) {
    printf("%zu\n", size);
  } else if (!strcmp(argv[1], "read")) {
    for (size_t i = 0; i < size; i++) printf("%02X", block[i]);
    printf("\n");
  } else if (!strcmp(argv[1], "write") && argc == 5) {
    size_t offset = strtoul(argv[3], NULL, 0);
    size_t len = strlen(argv[4]);
    if (offset > size || len > size - offset) {
      fprintf(stderr, "shmtool: outside the segment\n");
      return 1;
    }
    memcpy(block + offset, argv[4], len);
  } else {
    fprintf(stderr, "shmtool: bad command\n");
    return 2;
  }
  shmdt(block);
  return 0;
}
