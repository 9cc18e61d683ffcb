# vortle for GNU make: include this file, then sign the ELF file as the last step of its link
# recipe with $(call vortle_sign,$@). The same run writes the images; a rule makes them again
# when one is missing.
#
#   include vortle.mk
#   firmware.elf: $(OBJS)
#   	$(CC) $(LDFLAGS) -o $@ $(OBJS)
#   	$(call vortle_sign,$@)
#
# .DELETE_ON_ERROR: a link recipe whose signing fails deletes the ELF file, so the next make
# links and signs again (and fails again) instead of taking the unsigned file as up to date.
# A failed run of vortle leaves no image of its own.

VORTLE ?= vortle
# More words for every run, for example make VORTLE_FLAGS='BA(0x2000) CRP3'. Each word reaches
# vortle whole (quoted for the shell here), so parentheses need no quotes of their own.
VORTLE_FLAGS ?=
vortle_flags = $(foreach f,$(subst ',,$(VORTLE_FLAGS)),'$(f)')

.DELETE_ON_ERROR:

# Signs the ELF file $(1) in place and writes $(1:.elf=.bin) and $(1:.elf=.hex); quiet unless
# it fails.
vortle_sign = $(VORTLE) '$(1)' 'BIN($(basename $(1)).bin)' 'HEX($(basename $(1)).hex)' $(vortle_flags) QUIET

# An image that is missing is written again from its (signed) ELF file.
%.bin %.hex: %.elf
	$(call vortle_sign,$<)

# Checks without changing anything: the signature and both images.
vortle_verify = $(VORTLE) '$(1)' 'BIN($(basename $(1)).bin)' 'HEX($(basename $(1)).hex)' $(vortle_flags) VERIFY
