# krelt.mk: converts bim images into Tamrisk application files with make.
#
#   include /usr/share/krelt/krelt.mk
#   all: a.v b.v
#   a.v: KRELT_HEAP := 64k
#   b.v: KRELT_HEAP := 256k
#   b.v: KRELT_MMAREA := 1m
#
# builds each X.v from X.bim with $(KRELT) (default: krelt). Beside each
# .v a stamp, X.v.krelt-args, holds the sizes it was made with; it is
# rewritten only when they change, so a changed size reconverts that file
# alone and an unchanged build runs nothing. Safe under make -j: every file
# a rule writes is its own, and krelt replaces a .v in one step.

KRELT ?= krelt

%.v: %.bim %.v.krelt-args
	$(if $(KRELT_HEAP),,$(error $@: no KRELT_HEAP (e.g. $@: KRELT_HEAP := 64k)))
	$(KRELT) $< $@ $(KRELT_HEAP) $(KRELT_MMAREA)

# Runs every time, and touches the stamp only when the sizes differ from
# those it holds; make then sees whether the stamp is newer than the .v.
%.v.krelt-args: .KRELT_FORCE
	@printf '%s\n' '$(KRELT_HEAP) $(KRELT_MMAREA)' > $@.tmp && \
	if cmp -s $@.tmp $@; then rm -f $@.tmp; else mv -f $@.tmp $@; fi

# A name with a leading dot is never the default goal, so the include may
# come before the makefile's first target.
.PHONY: .KRELT_FORCE
.KRELT_FORCE:
# The stamps are made by a chain of rules: keep them.
.PRECIOUS: %.v.krelt-args
