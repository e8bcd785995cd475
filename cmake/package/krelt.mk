# krelt.mk: converts bim images into Tamrisk application files with GNU
# make (4.3 or later).
#
#   include /usr/share/krelt/krelt.mk
#   all: a.v b.v out/c.v
#   a.v: KRELT_HEAP := 64k
#   b.v: KRELT_HEAP := 256k
#   b.v: KRELT_MMAREA := 1m
#   out/c.v: c.bim
#   out/c.v: KRELT_HEAP := 64k
#
# converts into each X.v the first .bim among its prerequisites, or X.bim
# when it names none, with $(KRELT) (default: krelt), making its folder;
# and again when $(KRELT) names a path and that program changes.
# The sizes are checked first (an optional -; a radix prefix 0x, 0o, 0b or
# 0; digits of that radix; an optional K, M or G in any case): anything
# else stops make, naming the file and the value, before it is converted.
# Beside each .v a stamp, X.v.krelt-args, holds the sizes it was made with;
# a .v whose sizes are not its stamp's is converted again, and no other,
# so a changed size converts that file alone and an unchanged build runs
# nothing (make -q exits 0, make -n prints nothing). Safe under make -j: every file a rule writes
# is its own, and krelt replaces a .v in one step.
#
# The prerequisites are found by secondary expansion, which the include
# turns on for the rest of the makefile: a literal $ in a prerequisite
# list after it is written $$$$.

# Older makes give no target-specific variable to the secondary expansion
# (and would convert everything every time) nor $(file <).
ifneq ($(filter 3.% 4.0% 4.1% 4.2%,$(MAKE_VERSION)),)
$(error krelt.mk needs GNU make 4.3 or later, not $(MAKE_VERSION))
endif

KRELT ?= krelt

.SECONDEXPANSION:
%.v: $$(if $$(call krelt_image,$$^),,$$*.bim) \
     $$(if $$(call krelt_differ,$$(file <$$@.krelt-args),$$(krelt_sizes)),.KRELT_FORCE) \
     $$(if $$(findstring /,$$(KRELT)),$$(wildcard $$(KRELT)))
	$(call krelt_check,$@)
	@$(if $(wildcard $(@D)/.),,mkdir -p $(@D))
	$(KRELT) $(call krelt_image,$^) $@ $(krelt_sizes)
	@printf '%s\n' '$(krelt_sizes)' > $@.krelt-args

# A name with a leading dot is never the default goal, so the include may
# come before the makefile's first target.
.PHONY: .KRELT_FORCE
.KRELT_FORCE:

# The first .bim of the list $1. (A % in the rule itself would stand for
# its stem.)
krelt_image = $(firstword $(filter %.bim,$1))
# The arguments after the output, as the stamp holds them.
krelt_sizes = $(KRELT_HEAP) $(KRELT_MMAREA)
# Non-empty when $1 and $2 differ: each wrapped text must hold the other
# whole, and a difference in spaces alone still leaves an x.
krelt_differ = $(subst x$1x,,x$2x)$(subst x$2x,,x$1x)

# Stops make, naming the file $1, unless its sizes are sizes.
krelt_check = $(if $(KRELT_HEAP),,$(error $1: no KRELT_HEAP (e.g. $1: KRELT_HEAP := 64k)))$(foreach \
  v,KRELT_HEAP $(if $(KRELT_MMAREA),KRELT_MMAREA),$(if $(call krelt_not_size,$($v)),$(error \
  $1: $v '$($v)' is not a size (an optional -; 0x, 0o, 0b or 0; digits of that radix; K, M or G))))

# Non-empty unless $1 is a size: one word with nothing around it; an
# optional -; a number with at least one digit of its radix (a bare 0 is
# itself the digit); an optional K, M or G.
krelt_not_size = $(strip $(if $(filter-out 1,$(words x$1x)),bad,$(call \
  krelt_not_number,$(call krelt_unsuffixed,$(patsubst -%,%,$1)))))
krelt_unsuffixed = $(or $(strip $(foreach s,k K m M g G,$(patsubst %$s,%,$(filter %$s,$1)))),$1)
krelt_not_number = $(if $(filter 0x% 0X%,$1),$(call krelt_not_digits,$(call \
  krelt_after,$1,0x,0X),0 1 2 3 4 5 6 7 8 9 a b c d e f A B C D E F),$(if \
  $(filter 0o% 0O%,$1),$(call krelt_not_digits,$(call krelt_after,$1,0o,0O),0 1 2 3 4 5 6 7),$(if \
  $(filter 0b% 0B%,$1),$(call krelt_not_digits,$(call krelt_after,$1,0b,0B),0 1),$(if \
  $(filter 0%,$1),$(call krelt_without,$(patsubst 0%,%,$1),0 1 2 3 4 5 6 7),$(call \
  krelt_not_digits,$1,0 1 2 3 4 5 6 7 8 9)))))
# $1 less its prefix, $2 or $3.
krelt_after = $(patsubst $2%,%,$(filter $2%,$1))$(patsubst $3%,%,$(filter $3%,$1))
# Non-empty unless $1 is one or more of the characters $2.
krelt_not_digits = $(if $1,$(call krelt_without,$1,$2),bad)
krelt_without = $(if $2,$(call krelt_without,$(subst $(firstword $2),,$1),$(wordlist \
  2,$(words $2),$2)),$1)
