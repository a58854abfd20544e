/* A qemu TCG plugin that counts the guest instructions executed: each translated block
 * adds its instruction count to one counter every time it runs. Written to the file
 * named by its argument "out=FILE" when the program ends. Declares only the few entry
 * points of qemu's plugin interface (version 1) that it uses. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
typedef struct qemu_info_t qemu_info_t;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*tb_trans_cb)(qemu_plugin_id_t id, struct qemu_plugin_tb *tb);
typedef void (*udata_cb)(qemu_plugin_id_t id, void *userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, tb_trans_cb cb);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb *tb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb *tb, enum qemu_plugin_op op, void *ptr,
                                              uint64_t imm);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, udata_cb cb, void *userdata);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

static uint64_t executed;
static char out[512] = "icount.txt";

static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb *tb) {
  (void)id;
  qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed, qemu_plugin_tb_n_insns(tb));
}

static void on_exit(qemu_plugin_id_t id, void *userdata) {
  (void)id;
  (void)userdata;
  FILE *f = fopen(out, "w");
  if (f != NULL) {
    fprintf(f, "%llu\n", (unsigned long long)executed);
    fclose(f);
  }
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id, const qemu_info_t *info,
                                                               int argc, char **argv) {
  (void)info;
  for (int i = 0; i < argc; ++i)
    if (strncmp(argv[i], "out=", 4) == 0) snprintf(out, sizeof out, "%s", argv[i] + 4);
  qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
  qemu_plugin_register_atexit_cb(id, on_exit, NULL);
  return 0;
}
